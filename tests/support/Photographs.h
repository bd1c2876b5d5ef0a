// Real photographs and scans for the tests: the sample images scripts/fetch-photos.sh
// puts in the folder the build names (ORVEX_PHOTOS_DIR).
#ifndef ORVEX_TESTS_SUPPORT_PHOTOGRAPHS_H
#define ORVEX_TESTS_SUPPORT_PHOTOGRAPHS_H

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace orvex {
namespace testing {

// The path of a sample image by its file name; fails the calling test when the folder
// has not been filled.
std::string PhotographPath(const std::string& name);
// The photograph decoded in colour (blue-green-red), or an empty matrix after a failure.
cv::Mat ReadPhotograph(const std::string& name);

// Photographs and scans of every kind the tool reads: colour and gray PNG photographs,
// gray scans of printed text, JPEG photographs, PNG with alpha, with a palette and with
// 16 bits per channel.
const std::vector<std::string>& PhotographNames();

}  // namespace testing
}  // namespace orvex

#endif
