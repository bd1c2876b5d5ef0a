// The values the processing stages accept for the mode-record integers that become a
// size, a radius, a count or a weight. A stage that meets a value outside its range, or
// one larger than the image it works on, uses the nearest accepted value and logs the
// field and the value (QZLog level 1), so no parameter ever makes a stage allocate
// beyond the image. Which field each limit bounds, and under which modes, is described
// with the records' fields (ModeRecordFields.h), whose range checks hosts run beforehand.
#ifndef ORVEX_FOUNDATION_MODELIMITS_H
#define ORVEX_FOUNDATION_MODELIMITS_H

#include <cstdint>

namespace orvex {

// The limits, shared by the stages and the field descriptions.
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
