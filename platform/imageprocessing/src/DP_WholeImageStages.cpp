// The whole-image stages: source, size fitting, scaling down, colour conversion,
// grayscale transformation and region detection.
// Result stores keep these results across processes under their stage's code version:
// a change to what a stage computes raises kCodeVersion in its row of StageTable.h.
#include <orvex/improc/DP_Stages.h>

#include "StageOperations.h"

#include <orvex/foundation/ModeLimits.h>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace orvex {


namespace {

constexpr int kDefaultMaxSide = 4096;

cv::Matx33d Scale(double sx, double sy) { return cv::Matx33d(sx, 0, 0, 0, sy, 0, 0, 0, 1); }

QZ_Quad RectangleQuad(const cv::Rect& r) {
  return QZ_Quad(r.tl(), cv::Point(r.x + r.width - 1, r.y), cv::Point(r.x + r.width - 1, r.y + r.height - 1),
                 cv::Point(r.x, r.y + r.height - 1));
}

// Gradient strength of the image the region mode looks at.
cv::Mat ContrastImage(const cv::Mat& gray, const cv::Mat* colour, int32_t mode) {
  const cv::Mat kernel = cv::getStructuringElement(cv::MORPH_ELLIPSE, cv::Size(3, 3));
  cv::Mat gradient;
  if (mode == RPM_GENERAL_RGB_CONTRAST && colour != nullptr) {
    std::vector<cv::Mat> planes;
    cv::split(*colour, planes);
    for (cv::Mat& plane : planes) {
      cv::Mat g;
      cv::morphologyEx(plane, g, cv::MORPH_GRADIENT, kernel);
      gradient = gradient.empty() ? g : cv::max(gradient, g);
    }
    return gradient;
  }
  if (mode == RPM_GENERAL_HSV_CONTRAST && colour != nullptr) {
    // The saturation plane goes to a buffer of its own: the gray image is another
    // stage's settled result.
    cv::Mat hsv, saturation;
    cv::cvtColor(*colour, hsv, cv::COLOR_BGR2HSV);
    cv::extractChannel(hsv, saturation, 1);
    cv::morphologyEx(saturation, gradient, cv::MORPH_GRADIENT, kernel);
    return gradient;
  }
  cv::morphologyEx(gray, gradient, cv::MORPH_GRADIENT, kernel);
  return gradient;
}

// High-contrast areas closed into blocks, each as its minimum-area rectangle, largest first.
std::vector<QZ_Quad> ContrastRegions(const cv::Mat& gray, const cv::Mat* colour, int32_t mode) {
  cv::Mat mask;
  cv::threshold(ContrastImage(gray, colour, mode), mask, 0, 255, cv::THRESH_BINARY | cv::THRESH_OTSU);
  const int closeWidth = std::max(9, gray.cols / 30);
  const int closeHeight = std::max(3, gray.rows / 60);
  cv::morphologyEx(mask, mask, cv::MORPH_CLOSE, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(closeWidth, closeHeight)));
  cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(5, 5)));
  std::vector<std::vector<cv::Point>> contours;
  cv::findContours(mask, contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_SIMPLE);
  const double minArea = std::max(256.0, 0.002 * gray.total());
  std::vector<std::pair<double, cv::RotatedRect>> found;
  for (const auto& contour : contours) {
    const cv::RotatedRect box = cv::minAreaRect(contour);
    const double area = static_cast<double>(box.size.width) * box.size.height;
    if (area >= minArea && std::min(box.size.width, box.size.height) >= 8) found.emplace_back(area, box);
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  std::vector<QZ_Quad> quads;
  for (const auto& entry : found) {
    cv::Point2f corners[4];
    entry.second.points(corners);
    cv::Point p[4];
    for (int i = 0; i < 4; ++i) p[i] = cv::Point(cvRound(corners[i].x), cvRound(corners[i].y));
    quads.emplace_back(p[0], p[1], p[2], p[3]);
  }
  return quads;
}

// The host's regions, in percent of the image or in pixels, clipped to the image.
std::vector<QZ_Quad> ManualRegions(const cv::Size& size, const std::vector<RelativeBarcodeRegion>& regions) {
  std::vector<QZ_Quad> quads;
  const cv::Rect image(0, 0, size.width, size.height);
  for (const RelativeBarcodeRegion& r : regions) {
    const bool percent = r.regionMeasuredByPercentage != 0;
    const int most = percent ? modelimits::kMaxPercent : modelimits::kMaxPixelCoordinate;
    const auto within = [&](int v) { return stageops::ClampField("region predetection relativeRegions", v, 0, most); };
    const auto x = [&](int v) { return percent ? static_cast<int>(std::lround(within(v) / 100.0 * size.width)) : within(v); };
    const auto y = [&](int v) { return percent ? static_cast<int>(std::lround(within(v) / 100.0 * size.height)) : within(v); };
    const cv::Rect rect = cv::Rect(cv::Point(x(r.left), y(r.top)), cv::Point(x(r.right), y(r.bottom))) & image;
    if (!rect.empty()) quads.push_back(RectangleQuad(rect));
  }
  return quads;
}

}  // namespace

DP_SourceImage::DP_SourceImage(QZRef<QZMatrix> image, int maxWidth, int maxHeight)
    : DP_Template(kKind, nullptr), m_image(image), m_maxWidth(maxWidth), m_maxHeight(maxHeight) {}

DP_SourceImage::DP_SourceImage(QZRef<SourcePixels> pixels, std::string hashId, int maxWidth, int maxHeight)
    : DP_Template(kKind, nullptr), m_pixels(std::move(pixels)), m_hashId(std::move(hashId)), m_maxWidth(maxWidth),
      m_maxHeight(maxHeight) {}

bool DP_SourceImage::NeedsPixels() {
  MutexLock lock(primaryDataMutex);
  return !primaryDataAttempted && !m_image;
}

void DP_SourceImage::OfferPixels(QZRef<QZMatrix> image) {
  if (!image || image->IsEmpty()) return;
  MutexLock lock(primaryDataMutex);
  if (!primaryDataAttempted && !m_image) m_image.swap(image);
}

void DP_SourceImage::OfferPixels(QZRef<SourcePixels> pixels) {
  if (!pixels) return;
  MutexLock lock(primaryDataMutex);
  if (!primaryDataAttempted && !m_image) m_pixels.swap(pixels);
}

void DP_SourceImage::ComputePrimaryData() {
  if (!m_image && m_pixels) {
    QZRef<QZMatrix> loaded = m_pixels->Load();
    if (!loaded || loaded->IsEmpty()) {
      QZLog::m_instance.WriteMessage(1, "DP_SourceImage: the pixels of an image known by its id could not be had");
      LeaveUnsettled();
      return;
    }
    if (!loaded->CalcHashID() || loaded->GetHashID() != m_hashId) {
      QZLog::m_instance.WriteMessage(1, "DP_SourceImage: the pixels given for an image have another hash id; refused");
      LeaveUnsettled();
      return;
    }
    m_image.swap(loaded);
  }
  if (!m_image || m_image->IsEmpty()) return;  // given no pixels: that is its result
  primaryData = m_image;
  KeepInputTransform();
}


void DP_SizeFittingImage::ComputePrimaryData() {
  QZRef<const QZMatrix> source = InputData();
  if (!source || source->IsEmpty()) return;
  const cv::Mat& in = source->GetMat();
  // Every conversion writes a buffer of its own; `colour` shares the input's pixels only
  // where it is the input as it is.
  cv::Mat eightBit;
  if (in.depth() != CV_8U) in.convertTo(eightBit, CV_8U);
  else eightBit = in;
  cv::Mat colour;
  if (eightBit.channels() == 1) cv::cvtColor(eightBit, colour, cv::COLOR_GRAY2BGR);
  else if (eightBit.channels() == 4) cv::cvtColor(eightBit, colour, cv::COLOR_BGRA2BGR);
  else if (eightBit.channels() == 3) colour = eightBit;
  else return;

  const int maxWidth = input->GetMaxWidth() > 0 ? input->GetMaxWidth() : kDefaultMaxSide;
  const int maxHeight = input->GetMaxHeight() > 0 ? input->GetMaxHeight() : kDefaultMaxSide;
  const double scale = std::min({1.0, static_cast<double>(maxWidth) / colour.cols, static_cast<double>(maxHeight) / colour.rows});
  cv::Mat fitted = colour;
  if (scale < 1.0) {
    const cv::Size size(std::max(1, static_cast<int>(colour.cols * scale)), std::max(1, static_cast<int>(colour.rows * scale)));
    cv::resize(colour, fitted, size, 0, 0, cv::INTER_AREA);
  }
  primaryData = fitted.data == in.data ? Unchanged(source) : QZRef<QZMatrix>(new QZMatrix(fitted));
  SetTransformAfterInput(Scale(static_cast<double>(fitted.cols) / in.cols, static_cast<double>(fitted.rows) / in.rows));
}

bool DP_SizeFittingImage::ResultIsInputsOwn() {
  const QZRef<const QZMatrix> source = InputData();
  return primaryData && source && primaryData.get() == source.get();
}

DP_ScalingDownImage::DP_ScalingDownImage(DP_SizeFittingImage* input, int scalingDownValue)
    : DP_Template(kKind, input), m_scalingDownValue(scalingDownValue) {}

void DP_ScalingDownImage::ComputePrimaryData() {
  QZRef<const QZMatrix> fitted = InputData();
  if (!fitted || fitted->IsEmpty()) return;
  const cv::Mat& in = fitted->GetMat();
  cv::Mat scaled = in;
  while (m_scalingDownValue > 0 && std::max(scaled.cols, scaled.rows) > m_scalingDownValue) {
    cv::Mat half;
    cv::resize(scaled, half, cv::Size((scaled.cols + 1) / 2, (scaled.rows + 1) / 2), 0, 0, cv::INTER_AREA);
    scaled = half;
  }
  primaryData = scaled.data == in.data ? Unchanged(fitted) : QZRef<QZMatrix>(new QZMatrix(scaled));
  SetTransformAfterInput(Scale(static_cast<double>(scaled.cols) / in.cols, static_cast<double>(scaled.rows) / in.rows));
}


void DP_ColourConvertWholeImage::ComputePrimaryData() {
  QZRef<const QZMatrix> colour = InputData();
  if (!colour || colour->IsEmpty()) return;
  primaryData.reset(new QZMatrix(stageops::ToGray(colour->GetMat(), m_mode)));
  KeepInputTransform();
}


void DP_GrayTransformWholeImage::ComputePrimaryData() {
  QZRef<const QZMatrix> gray = InputData();
  if (!gray || gray->IsEmpty()) return;
  bool invert = m_mode.mode == GTM_INVERTED;
  if (m_mode.mode == GTM_AUTO) {
    QZRef<const QZMatrix> colour = LinkedData(linkedStage1);
    if (colour && !colour->IsEmpty()) {
      const cv::Scalar mean = cv::mean(colour->GetMat());
      invert = mean[0] + mean[1] + mean[2] < 3 * 128.0;
    }
  }
  if (invert) {
    cv::Mat inverted;
    cv::bitwise_not(gray->GetMat(), inverted);
    primaryData.reset(new QZMatrix(inverted));
  } else {
    primaryData = Unchanged(gray);
  }
  KeepInputTransform();
}


QZRef<const QZMatrix> DP_DetectROIs::GetColourImage() { return LinkedData(linkedStage1); }

void DP_DetectROIs::ComputePrimaryData() {
  QZRef<const QZMatrix> gray = InputData();
  if (!gray || gray->IsEmpty()) return;
  const cv::Mat& image = gray->GetMat();
  QZRef<const QZMatrix> colour = GetColourImage();
  const cv::Mat* colourMat = colour && colour->GetMat().size() == image.size() ? &colour->GetMat() : nullptr;
  QZRef<QZQuadList> regions(new QZQuadList);
  switch (m_mode.mode) {
    case RPM_MANUAL_SPECIFICATION: regions->quads = ManualRegions(image.size(), m_mode.relativeRegions); break;
    case RPM_AUTO:
    case RPM_GENERAL_RGB_CONTRAST:
    case RPM_GENERAL_GRAY_CONTRAST:
    case RPM_GENERAL_HSV_CONTRAST: regions->quads = ContrastRegions(image, colourMat, m_mode.mode); break;
    default: regions->quads.push_back(RectangleQuad(cv::Rect(0, 0, image.cols, image.rows))); break;
  }
  // The id of the image the regions are cut from names them; computed once, here.
  if (colour && !colour->IsEmpty() && colour->CalcHashID()) regions->colourImageId = colour->GetHashID();
  primaryData = regions;
  KeepInputTransform();
}

}  // namespace orvex
