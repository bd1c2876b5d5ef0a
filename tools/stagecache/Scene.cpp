#include "Scene.h"

#include <opencv2/imgproc.hpp>

namespace stagecache {

namespace {

const cv::Scalar kInk(30, 28, 26);

void DrawBars(cv::Mat& page, const cv::Rect& area, int seed) {
  int x = area.x;
  for (int i = 0; x < area.x + area.width; ++i) {
    const int width = 2 + (i * 7 + seed) % 5;
    const int gap = 2 + (i * 5 + seed * 3) % 4;
    cv::rectangle(page, cv::Rect(x, area.y, width, area.height), kInk, cv::FILLED);
    x += width + gap;
  }
}

void DrawDots(cv::Mat& page, const cv::Rect& area, int cells) {
  const int cell = area.width / cells;
  cv::rectangle(page, area, kInk, 4);
  for (int row = 1; row < cells - 1; ++row)
    for (int col = 1; col < cells - 1; ++col)
      if ((row * 31 + col * 17 + row * col) % 3 != 0)
        cv::rectangle(page, cv::Rect(area.x + col * cell, area.y + row * cell, cell - 2, cell - 2), kInk, cv::FILLED);
}

}  // namespace

cv::Mat DrawDefaultScene() {
  const cv::Size size(1600, 1200);
  cv::Mat page(size, CV_8UC3, cv::Scalar(232, 236, 240));
  DrawBars(page, cv::Rect(140, 140, 520, 170), 1);
  DrawBars(page, cv::Rect(860, 180, 420, 130), 2);
  DrawBars(page, cv::Rect(180, 760, 360, 200), 3);
  DrawBars(page, cv::Rect(760, 880, 600, 110), 4);
  DrawDots(page, cv::Rect(880, 420, 300, 300), 15);
  cv::putText(page, "ORVEX STAGECACHE", cv::Point(160, 560), cv::FONT_HERSHEY_SIMPLEX, 2.0, kInk, 4);

  const float w = static_cast<float>(size.width), h = static_cast<float>(size.height);
  const cv::Point2f from[4] = {{0, 0}, {w, 0}, {w, h}, {0, h}};
  const cv::Point2f to[4] = {{0.07f * w, 0.12f * h}, {0.94f * w, 0.05f * h}, {0.90f * w, 0.93f * h}, {0.04f * w, 0.86f * h}};
  cv::Mat scene(size, CV_8UC3, cv::Scalar(62, 70, 84));
  cv::warpPerspective(page, scene, cv::getPerspectiveTransform(from, to), size, cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);

  cv::Mat noise(size, CV_16SC3);
  cv::RNG rng(20261207);
  rng.fill(noise, cv::RNG::NORMAL, 0, 6);
  cv::Mat noisy;
  scene.convertTo(noisy, CV_16SC3);
  noisy += noise;
  noisy.convertTo(scene, CV_8UC3);
  return scene;
}

}  // namespace stagecache
