// Image operations shared by several stages.
// Result stores keep these results across processes under their stage's code version:
// a change to what a stage computes raises kCodeVersion in its row of StageTable.h.
#include "StageOperations.h"

#include <orvex/foundation/ModeLimits.h>
#include <orvex/improc/QZLog.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <string>

namespace orvex {
namespace stageops {

namespace {

// A window size from a record: `fallback` below 3, at most `most`, odd, and no larger
// than `fits` (the image's smaller side) allows.
int OddWindow(const char* field, int value, int fallback, int most, int fits) {
  int used = value < 3 ? fallback : std::min(value, most);
  if (used % 2 == 0) --used;
  if (used > fits) used = std::max(3, fits % 2 == 0 ? fits - 1 : fits);
  if (value > most) LogClamped(field, value, used);
  return used;
}

}  // namespace

void LogClamped(const char* field, int64_t value, int64_t used) {
  const std::string text = std::string("mode record field ") + field + " = " + std::to_string(value) +
                           " is out of range; " + std::to_string(used) + " used";
  QZLog::m_instance.WriteMessage(1, text.c_str());
}

int ClampField(const char* field, int value, int lowest, int highest) {
  const int used = std::clamp(value, lowest, highest);
  if (used != value) LogClamped(field, value, used);
  return used;
}

cv::Mat ToGray(const cv::Mat& bgr, const QZVP_ColourConversionModeStruct& mode) {
  cv::Mat gray;
  if (bgr.channels() == 1) return bgr.clone();
  if (mode.mode == CICM_HSV) {
    cv::Mat hsv;
    cv::cvtColor(bgr, hsv, cv::COLOR_BGR2HSV);
    const int plane = mode.channel == QZVP_H_CHANNEL ? 0 : mode.channel == QZVP_S_CHANNEL ? 1 : 2;
    cv::extractChannel(hsv, gray, plane);
    return gray;
  }
  const double sum = static_cast<double>(mode.intArg1) + mode.intArg2 + mode.intArg3;
  const bool weighted = mode.mode == CICM_GENERAL && mode.intArg1 >= 0 && mode.intArg2 >= 0 && mode.intArg3 >= 0 && sum > 0;
  if (!weighted) {
    cv::cvtColor(bgr, gray, cv::COLOR_BGR2GRAY);
    return gray;
  }
  const cv::Matx13f weights(static_cast<float>(mode.intArg1 / sum), static_cast<float>(mode.intArg2 / sum),
                            static_cast<float>(mode.intArg3 / sum));
  cv::transform(bgr, gray, weights);
  return gray;
}

cv::Mat Enhance(const cv::Mat& gray, const QZVP_GrayscaleEnhancementModeStruct& mode) {
  cv::Mat out;
  switch (mode.mode) {
    case GEM_GRAY_EQUALIZE: cv::equalizeHist(gray, out); return out;
    case GEM_GRAY_SMOOTH: {
      const int k = OddWindow("grayscale enhancement intArg2", mode.intArg2, 5, modelimits::kMaxKernel,
                              std::min(gray.rows, gray.cols));
      cv::GaussianBlur(gray, out, cv::Size(k, k), 0);
      return out;
    }
    case GEM_SHARPEN_SMOOTH: {
      cv::Mat blurred;
      cv::GaussianBlur(gray, blurred, cv::Size(0, 0), 3.0);
      cv::addWeighted(gray, 1.5, blurred, -0.5, 0, out);
      return out;
    }
    default: return gray;
  }
}

cv::Mat Binarize(const cv::Mat& gray, const QZVP_BinarizationModeStruct& mode) {
  cv::Mat out;
  if (mode.mode == BM_LOCAL_BLOCK) {
    const int block = OddWindow("binarization intArg1/intArg2", std::max(mode.intArg1, mode.intArg2), 15,
                                modelimits::kMaxBlock, std::min(gray.rows, gray.cols));
    const double offset = ClampField("binarization intArg5", mode.intArg5, -modelimits::kMaxOffset, modelimits::kMaxOffset);
    cv::adaptiveThreshold(gray, out, 255, cv::ADAPTIVE_THRESH_MEAN_C, cv::THRESH_BINARY_INV, block, offset);
    return out;
  }
  cv::threshold(gray, out, 0, 255, cv::THRESH_BINARY_INV | cv::THRESH_OTSU);
  return out;
}

cv::Matx33d ToMatx(const cv::Mat& m) {
  if (m.rows != 3 || m.cols != 3 || m.type() != CV_64FC1) return cv::Matx33d::eye();
  cv::Matx33d out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) out(r, c) = m.at<double>(r, c);
  return out;
}

}  // namespace stageops
}  // namespace orvex
