#include "TestScene.h"

#include <opencv2/imgproc.hpp>

namespace orvex {
namespace testing {

namespace {

void DrawBars(cv::Mat& page, const cv::Rect& area, int seed) {
  int x = area.x;
  int i = 0;
  while (x < area.x + area.width) {
    const int width = 2 + (i * 7 + seed) % 4;
    const int gap = 2 + (i * 5 + seed) % 3;
    cv::rectangle(page, cv::Rect(x, area.y, width, area.height), cv::Scalar(25, 25, 25), cv::FILLED);
    x += width + gap;
    ++i;
  }
}

}  // namespace

cv::Mat DrawBarPage(const cv::Size& size) {
  cv::Mat page(size, CV_8UC3, cv::Scalar(235, 238, 240));
  const int w = size.width, h = size.height;
  DrawBars(page, cv::Rect(w / 10, h / 8, w / 3, h / 5), 1);
  DrawBars(page, cv::Rect(w / 2, h / 2, w / 3, h / 6), 2);
  DrawBars(page, cv::Rect(w / 8, 3 * h / 4, w / 4, h / 8), 3);

  const cv::Point2f from[4] = {{0, 0}, {float(w), 0}, {float(w), float(h)}, {0, float(h)}};
  const cv::Point2f to[4] = {{0.08f * w, 0.10f * h}, {0.93f * w, 0.04f * h}, {0.88f * w, 0.95f * h}, {0.05f * w, 0.86f * h}};
  cv::Mat scene(size, CV_8UC3, cv::Scalar(70, 60, 50));
  cv::warpPerspective(page, scene, cv::getPerspectiveTransform(from, to), size, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
  return scene;
}

cv::Mat FlatImage(const cv::Size& size, const cv::Scalar& bgr) { return cv::Mat(size, CV_8UC3, bgr); }

}  // namespace testing
}  // namespace orvex
