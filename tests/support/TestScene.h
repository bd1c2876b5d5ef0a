// Images drawn by the tests: a page with dark bar patterns, seen rotated and in perspective.
#ifndef ORVEX_TESTS_SUPPORT_TESTSCENE_H
#define ORVEX_TESTS_SUPPORT_TESTSCENE_H

#include <opencv2/core.hpp>

namespace orvex {
namespace testing {

// A light page of `size` with three dark bar patterns, turned by a few degrees and seen
// in perspective on a darker background. Deterministic for a given size.
cv::Mat DrawBarPage(const cv::Size& size);

// A flat image of one colour.
cv::Mat FlatImage(const cv::Size& size, const cv::Scalar& bgr);

}  // namespace testing
}  // namespace orvex

#endif
