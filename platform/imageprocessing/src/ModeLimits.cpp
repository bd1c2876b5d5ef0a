#include <orvex/improc/ModeLimits.h>

namespace orvex {

namespace {

using namespace modelimits;

void Check(std::vector<ModeFieldProblem>& problems, const std::string& field, int64_t value, int64_t lowest,
           int64_t highest) {
  if (value < lowest || value > highest) problems.push_back({field, value, lowest, highest});
}

}  // namespace

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_ColourConversionModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode != CICM_GENERAL) return problems;
  Check(problems, "intArg1", record.intArg1, 0, kMaxWeight);
  Check(problems, "intArg2", record.intArg2, 0, kMaxWeight);
  Check(problems, "intArg3", record.intArg3, 0, kMaxWeight);
  return problems;
}

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_RegionPredetectionModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode != RPM_MANUAL_SPECIFICATION) return problems;
  for (size_t i = 0; i < record.relativeRegions.size(); ++i) {
    const RelativeBarcodeRegion& region = record.relativeRegions[i];
    const std::string prefix = "relativeRegions[" + std::to_string(i) + "].";
    const int64_t highest = region.regionMeasuredByPercentage != 0 ? kMaxPercent : kMaxPixelCoordinate;
    Check(problems, prefix + "left", region.left, 0, highest);
    Check(problems, prefix + "top", region.top, 0, highest);
    Check(problems, prefix + "right", region.right, 0, highest);
    Check(problems, prefix + "bottom", region.bottom, 0, highest);
  }
  return problems;
}

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_GrayscaleEnhancementModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode == GEM_GRAY_SMOOTH) Check(problems, "intArg2", record.intArg2, 0, kMaxKernel);
  return problems;
}

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_BinarizationModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode != BM_LOCAL_BLOCK) return problems;
  Check(problems, "intArg1", record.intArg1, 0, kMaxBlock);
  Check(problems, "intArg2", record.intArg2, 0, kMaxBlock);
  // -10000 asks the mode-list rules to expand the record; they replace it before any stage runs.
  if (record.intArg5 != -10000) Check(problems, "intArg5", record.intArg5, -kMaxOffset, kMaxOffset);
  return problems;
}

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextureDetectionModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode != TDM_SKIP) Check(problems, "intArg1", record.intArg1, 0, kMaxWindow);
  return problems;
}

std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextFilterModeStruct& record) {
  std::vector<ModeFieldProblem> problems;
  if (record.mode != TFM_SKIP) Check(problems, "intArg1", record.intArg1, 0, kMaxComponentArea);
  return problems;
}

}  // namespace orvex
