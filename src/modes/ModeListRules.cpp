#include <orvex/modes/ModeListRules.h>

namespace orvex {

namespace {

// The two offsets a BM_LOCAL_BLOCK record with kBinarizationOffsetBoth stands for, in order.
constexpr int32_t kExpandedOffsets[] = {10, 2};

}  // namespace

void FilterGrayscaleTransformationMode(const std::vector<QZVP_GrayscaleTransformationModeStruct>& input,
                                       std::vector<QZVP_GrayscaleTransformationModeStruct>& output) {
  bool wantInverted = false;
  bool wantOriginal = false;
  bool invertedFirst = false;
  bool seenUsable = false;
  for (const QZVP_GrayscaleTransformationModeStruct& record : input) {
    if (record.mode == GTM_SKIP) continue;
    if (!seenUsable) {
      invertedFirst = record.mode == GTM_INVERTED;
      seenUsable = true;
    }
    if (record.mode == GTM_INVERTED || record.mode == GTM_AUTO) wantInverted = true;
    if (record.mode != GTM_INVERTED) wantOriginal = true;
  }
  // Built aside first, so that passing one list as both input and output works.
  std::vector<QZVP_GrayscaleTransformationModeStruct> result;
  if (invertedFirst) {
    result.emplace_back(GTM_INVERTED);
    if (wantOriginal) result.emplace_back(GTM_ORIGINAL);
  } else {
    if (wantOriginal) result.emplace_back(GTM_ORIGINAL);
    if (wantInverted) result.emplace_back(GTM_INVERTED);
  }
  output = std::move(result);
}

void ExtandBinarizationMode(const std::vector<QZVP_BinarizationModeStruct>& input,
                            std::vector<std::vector<QZVP_BinarizationModeStruct>>& output) {
  std::vector<std::vector<QZVP_BinarizationModeStruct>> groups;
  groups.reserve(input.size());
  for (const QZVP_BinarizationModeStruct& record : input) {
    std::vector<QZVP_BinarizationModeStruct> group;
    if (record.mode == BM_LOCAL_BLOCK && record.intArg5 == kBinarizationOffsetBoth) {
      for (int32_t offset : kExpandedOffsets) {
        group.push_back(record);
        group.back().intArg5 = offset;
      }
    } else {
      group.push_back(record);
    }
    groups.push_back(std::move(group));
  }
  output = std::move(groups);
}

}  // namespace orvex
