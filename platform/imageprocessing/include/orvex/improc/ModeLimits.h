// The values the processing stages accept for the mode-record integers that become a
// size, a radius, a count or a weight. A stage that meets a value outside its range, or
// one larger than the image it works on, uses the nearest accepted value and logs the
// field and the value (QZLog level 1), so no parameter ever makes a stage allocate
// beyond the image. Hosts check their records beforehand with CheckModeRecord.
//
// Ranges, for the modes that read the field:
//   binarization, BM_LOCAL_BLOCK   intArg1, intArg2 (block width and height)  0 .. 4095, used odd,
//                                  at least 3 (below 3: 15) and at most the image;
//                                  intArg5 (offset)                           -255 .. 255
//   grayscale enhancement,         intArg2 (smoothing kernel)                 0 .. 255, used odd,
//     GEM_GRAY_SMOOTH                                                         at least 3 (below 3: 5)
//   texture detection              intArg1 (window)                           0 .. 255 (below 3: 15)
//   text filter                    intArg1 (smallest component kept, pixels)  0 .. 16777216
//   colour conversion, CICM_GENERAL intArg1 .. intArg3 (channel weights)      0 .. 65535
//   region predetection,           relativeRegions left, top, right, bottom   0 .. 100 in percent,
//     RPM_MANUAL_SPECIFICATION                                                0 .. 65535 in pixels
// Thread-safe: the checks only read the record.
#ifndef ORVEX_IMPROC_MODELIMITS_H
#define ORVEX_IMPROC_MODELIMITS_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ModeRecordTypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// One integer outside its range: the field's name ("intArg1", "relativeRegions[2].left"),
// its value and the range.
struct ModeFieldProblem {
  std::string field;
  int64_t value;
  int64_t lowest;
  int64_t highest;
};

ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_ColourConversionModeStruct& record);
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_RegionPredetectionModeStruct& record);
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_GrayscaleEnhancementModeStruct& record);
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_BinarizationModeStruct& record);
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextureDetectionModeStruct& record);
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const QZVP_TextFilterModeStruct& record);

// The limits themselves, for the stages.
namespace modelimits {
constexpr int32_t kMaxBlock = 4095;
constexpr int32_t kMaxOffset = 255;
constexpr int32_t kMaxKernel = 255;
constexpr int32_t kMaxWindow = 255;
constexpr int32_t kMaxComponentArea = 16777216;
constexpr int32_t kMaxWeight = 65535;
constexpr int32_t kMaxPercent = 100;
constexpr int32_t kMaxPixelCoordinate = 65535;
}  // namespace modelimits

}  // namespace orvex

#endif
