// Image operations shared by several stages; private to the image-processing library.
#ifndef ORVEX_IMPROC_STAGEOPERATIONS_H
#define ORVEX_IMPROC_STAGEOPERATIONS_H

#include <orvex/foundation/ModeRecordTypes.h>

#include <opencv2/core.hpp>

#include <cstdint>

namespace orvex {
namespace stageops {

// Logs that a mode-record field was out of range and which value was used instead.
void LogClamped(const char* field, int64_t value, int64_t used);
// `value` within [lowest, highest]; logged when it was not.
int ClampField(const char* field, int value, int lowest, int highest);

// A blue-green-red image to one gray channel as the colour-conversion record says.
cv::Mat ToGray(const cv::Mat& bgr, const QZVP_ColourConversionModeStruct& mode);
// The enhancement the record names (an unchanged image for the other modes).
cv::Mat Enhance(const cv::Mat& gray, const QZVP_GrayscaleEnhancementModeStruct& mode);
// Dark content to 255 with the record's method.
cv::Mat Binarize(const cv::Mat& gray, const QZVP_BinarizationModeStruct& mode);
// A 3 x 3 matrix as an OpenCV fixed matrix (identity for a missing or malformed one).
cv::Matx33d ToMatx(const cv::Mat& m);

}  // namespace stageops
}  // namespace orvex

#endif
