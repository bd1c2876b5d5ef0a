// The region stages: from the region's colour image down to its line segments.
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

cv::Matx33d Translation(double dx, double dy) { return cv::Matx33d(1, 0, dx, 0, 1, dy, 0, 0, 1); }

QZ_Quad ShiftedQuad(const QZ_Quad& quad, const cv::Point& offset) {
  return QZ_Quad(quad.GetPoint(0) - offset, quad.GetPoint(1) - offset, quad.GetPoint(2) - offset,
                 quad.GetPoint(3) - offset);
}

cv::Rect BoundingBox(const QZ_Quad& quad) {
  std::vector<cv::Point> points;
  for (int i = 0; i < 4; ++i) points.push_back(quad.GetPoint(i));
  return cv::boundingRect(points);
}

// The quadrilateral's area of `image` (its bounding box, clipped), or an empty result.
QZRef<ImageWithQuad> CutRegion(const cv::Mat& image, const QZ_Quad& quad, cv::Point* offset) {
  const cv::Rect box = BoundingBox(quad) & cv::Rect(0, 0, image.cols, image.rows);
  if (box.width < 2 || box.height < 2) return QZRef<ImageWithQuad>();
  *offset = box.tl();
  return QZRef<ImageWithQuad>(new ImageWithQuad(image(box).clone(), ShiftedQuad(quad, box.tl())));
}

cv::Point Apply(const cv::Matx23d& m, const cv::Point& p) {
  return cv::Point(cvRound(m(0, 0) * p.x + m(0, 1) * p.y + m(0, 2)), cvRound(m(1, 0) * p.x + m(1, 1) * p.y + m(1, 2)));
}

// Corners ordered top-left, top-right, bottom-right, bottom-left.
void OrderCorners(const QZ_Quad& quad, cv::Point2f out[4]) {
  cv::Point2f p[4];
  for (int i = 0; i < 4; ++i) p[i] = quad.GetPoint(i);
  auto sum = [](const cv::Point2f& q) { return q.x + q.y; };
  auto diff = [](const cv::Point2f& q) { return q.y - q.x; };
  out[0] = *std::min_element(p, p + 4, [&](auto& a, auto& b) { return sum(a) < sum(b); });
  out[2] = *std::max_element(p, p + 4, [&](auto& a, auto& b) { return sum(a) < sum(b); });
  out[1] = *std::min_element(p, p + 4, [&](auto& a, auto& b) { return diff(a) < diff(b); });
  out[3] = *std::max_element(p, p + 4, [&](auto& a, auto& b) { return diff(a) < diff(b); });
}

double Length(const cv::Point2f& a, const cv::Point2f& b) { return std::hypot(a.x - b.x, a.y - b.y); }

template <class Record>
const Record* FirstUsable(const std::vector<Record>& records) {
  for (const Record& record : records)
    if (record.mode != 0) return &record;
  return nullptr;
}

}  // namespace

DP_ROIImage::DP_ROIImage(DP_DetectROIs* input, const QZ_Quad& quad) : DP_Template(kKind, input), m_quad(quad) {}

void DP_ROIImage::ComputePrimaryData() {
  QZRef<const QZMatrix> colour = input ? input->GetColourImage() : QZRef<const QZMatrix>();
  if (!colour || colour->IsEmpty()) return;
  // A region reaching out of the image is taken as the part inside it: no later stage
  // sizes its output by corners far away.
  const cv::Mat& image = colour->GetMat();
  QZ_Quad inside;
  for (int i = 0; i < 4; ++i) {
    const cv::Point p = m_quad.GetPoint(i);
    inside.SetPoint(i, cv::Point(std::clamp(p.x, 0, image.cols - 1), std::clamp(p.y, 0, image.rows - 1)));
  }
  cv::Point offset;
  primaryData = CutRegion(image, inside, &offset);
  if (primaryData) SetTransformAfterInput(Translation(-offset.x, -offset.y));
}


void DP_ColourConvertROIImage::ComputePrimaryData() {
  QZRef<const ImageWithQuad> region = InputData();
  if (region && region->image) {
    primaryData.reset(new ImageWithQuad(stageops::ToGray(region->image->GetMat(), m_mode), region->quad));
    KeepInputTransform();
    return;
  }
  if (!input) return;
  QZRef<const QZMatrix> colour = LinkedData(linkedStage1);
  QZRef<const QZMatrix> gray = LinkedData(linkedStage2);
  cv::Point offset;
  if (colour && !colour->IsEmpty()) {
    if (QZRef<ImageWithQuad> cut = CutRegion(colour->GetMat(), input->GetQuad(), &offset)) {
      primaryData.reset(new ImageWithQuad(stageops::ToGray(cut->image->GetMat(), m_mode), cut->quad));
      transformFromSource = ComposeTransform(Translation(-offset.x, -offset.y), linkedStage1->GetTransformMatFromSourceImage());
    }
  } else if (gray && !gray->IsEmpty()) {
    primaryData = CutRegion(gray->GetMat(), input->GetQuad(), &offset);
    if (primaryData) {
      transformFromSource = ComposeTransform(Translation(-offset.x, -offset.y), linkedStage2->GetTransformMatFromSourceImage());
    }
  }
}


void DP_GrayTransformROIImage::ComputePrimaryData() {
  QZRef<const ImageWithQuad> region = InputData();
  if (!region || !region->image) return;
  if (m_mode.mode == GTM_INVERTED) {
    cv::Mat inverted;
    cv::bitwise_not(region->image->GetMat(), inverted);
    primaryData.reset(new ImageWithQuad(inverted, region->quad));
  } else {
    primaryData = Unchanged(region);
  }
  KeepInputTransform();
}


void DP_RotateROIImage::ComputePrimaryData() {
  QZRef<const ImageWithQuad> region = InputData();
  if (!region || !region->image) return;
  const cv::Mat& image = region->image->GetMat();
  int longest = 0;
  double longestLength = -1;
  for (int i = 0; i < 4; ++i) {
    const double length = Length(region->quad.GetPoint(i), region->quad.GetPoint((i + 1) % 4));
    if (length > longestLength) {
      longestLength = length;
      longest = i;
    }
  }
  const cv::Point a = region->quad.GetPoint(longest), b = region->quad.GetPoint((longest + 1) % 4);
  double angle = std::atan2(b.y - a.y, b.x - a.x) * 180.0 / CV_PI;
  if (angle > 90) angle -= 180;
  if (angle <= -90) angle += 180;

  const cv::Point2f centre(image.cols / 2.0f, image.rows / 2.0f);
  cv::Matx23d rotation = cv::getRotationMatrix2D(centre, angle, 1.0);
  const cv::Rect2f bounds = cv::RotatedRect(centre, cv::Size2f(image.size()), static_cast<float>(-angle)).boundingRect2f();
  rotation(0, 2) += bounds.width / 2.0 - centre.x;
  rotation(1, 2) += bounds.height / 2.0 - centre.y;
  const cv::Size size(std::max(1, cvCeil(bounds.width)), std::max(1, cvCeil(bounds.height)));
  cv::Mat rotated;
  cv::warpAffine(image, rotated, rotation, size, cv::INTER_LINEAR, cv::BORDER_REPLICATE);
  QZ_Quad quad;
  for (int i = 0; i < 4; ++i) quad.SetPoint(i, Apply(rotation, region->quad.GetPoint(i)));
  primaryData.reset(new ImageWithQuad(rotated, quad));
  SetTransformAfterInput(cv::Matx33d(rotation(0, 0), rotation(0, 1), rotation(0, 2), rotation(1, 0), rotation(1, 1),
                                     rotation(1, 2), 0, 0, 1));
}


void DP_PerspectiveROIImage::ComputePrimaryData() {
  QZRef<const ImageWithQuad> region = InputData();
  if (!region || !region->image) return;
  cv::Point2f corners[4];
  OrderCorners(region->quad, corners);
  const int width = cvRound((Length(corners[0], corners[1]) + Length(corners[3], corners[2])) / 2);
  const int height = cvRound((Length(corners[0], corners[3]) + Length(corners[1], corners[2])) / 2);
  if (width < 2 || height < 2) return;
  const cv::Point2f upright[4] = {{0, 0}, {width - 1.0f, 0}, {width - 1.0f, height - 1.0f}, {0, height - 1.0f}};
  cv::Mat homography;
  try {
    homography = cv::getPerspectiveTransform(corners, upright);
  } catch (const cv::Exception&) {
    return;  // degenerate corners
  }
  if (homography.empty() || !cv::checkRange(homography)) return;
  cv::Mat corrected;
  cv::warpPerspective(region->image->GetMat(), corrected, homography, cv::Size(width, height), cv::INTER_LINEAR,
                      cv::BORDER_REPLICATE);
  primaryData.reset(new ImageWithQuad(corrected, QZ_Quad({0, 0}, {width - 1, 0}, {width - 1, height - 1}, {0, height - 1})));
  SetTransformAfterInput(stageops::ToMatx(homography));
}


void DP_EnhanceROIImage::ComputePrimaryData() {
  QZRef<const ImageWithQuad> region = InputData();
  if (!region || !region->image) return;
  const cv::Mat enhanced = stageops::Enhance(region->image->GetMat(), m_mode);
  primaryData = enhanced.data == region->image->GetMat().data ? Unchanged(region->image)
                                                                : QZRef<QZMatrix>(new QZMatrix(enhanced));
  KeepInputTransform();
}


void DP_BinarizeROIImage::ComputePrimaryData() {
  QZRef<const QZMatrix> gray = InputData();
  if (!gray || gray->IsEmpty()) return;
  primaryData.reset(new QZMatrix(stageops::Binarize(gray->GetMat(), m_mode)));
  KeepInputTransform();
}


void DP_TextureDetectImage::ComputePrimaryData() {
  QZRef<const QZMatrix> binary = InputData();
  if (!binary || binary->IsEmpty()) return;
  const QZVP_TextureDetectionModeStruct* mode = FirstUsable(m_mode);
  const int window = mode != nullptr && mode->intArg1 >= 3
                         ? stageops::ClampField("texture detection intArg1", mode->intArg1, 3, modelimits::kMaxWindow)
                         : 15;
  cv::Mat edges, density;
  cv::morphologyEx(binary->GetMat(), edges, cv::MORPH_GRADIENT, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(3, 3)));
  cv::boxFilter(edges, density, CV_32F, cv::Size(window, window), cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
  cv::Mat mask;
  cv::compare(density, 255.0 * 0.5, mask, cv::CMP_GT);
  QZRef<TextureDetectionResult> result(new TextureDetectionResult);
  result->textureMask.reset(new QZMatrix(mask));
  result->texturedFraction = static_cast<double>(cv::countNonZero(mask)) / mask.total();
  primaryData = result;
  KeepInputTransform();
}


void DP_EnhanceTextureImage::ComputePrimaryData() {
  QZRef<const TextureDetectionResult> texture = InputData();
  QZRef<const ImageWithQuad> plain = LinkedData(linkedStage2);
  if (!texture || !plain || !plain->image) return;
  const cv::Mat& base = plain->image->GetMat();
  QZRef<const QZMatrix> enhancedRef = LinkedData(linkedStage1);
  // Without the enhanced region image the same enhancement is made here.
  const cv::Mat enhanced = enhancedRef ? enhancedRef->GetMat() : stageops::Enhance(base, m_mode);
  const cv::Mat& mask = texture->textureMask->GetMat();
  cv::Mat structurizing = base.clone();
  if (enhanced.size() == base.size() && mask.size() == base.size()) enhanced.copyTo(structurizing, mask);
  primaryData.reset(new QZMatrix(structurizing));
  KeepInputTransform();
}


void DP_BinarizeTextureImage::ComputePrimaryData() {
  QZRef<const QZMatrix> gray = InputData();
  if (!gray || gray->IsEmpty()) return;
  const cv::Mat binarized = stageops::Binarize(gray->GetMat(), m_mode);
  QZRef<const TextureDetectionResult> texture = LinkedData(linkedStage1);
  QZRef<const QZMatrix> binary = LinkedData(linkedStage2);
  cv::Mat combined = binarized;
  if (texture && binary && binary->GetMat().size() == binarized.size() &&
      texture->textureMask->GetMat().size() == binarized.size()) {
    combined = binary->GetMat().clone();
    binarized.copyTo(combined, texture->textureMask->GetMat());
  }
  primaryData.reset(new QZMatrix(combined));
  KeepInputTransform();
}


void DP_TextFilteringImage::ComputePrimaryData() {
  QZRef<const QZMatrix> binary = InputData();
  if (!binary || binary->IsEmpty()) return;
  const QZVP_TextFilterModeStruct* mode = FirstUsable(m_mode);
  const int minArea = mode != nullptr && mode->intArg1 > 0 ? mode->intArg1 : 12;
  cv::Mat labels, stats, centroids;
  const int count = cv::connectedComponentsWithStats(binary->GetMat(), labels, stats, centroids, 8, CV_32S);
  std::vector<unsigned char> keep(count, 0);
  int removed = 0;
  for (int label = 1; label < count; ++label) {
    keep[label] = stats.at<int>(label, cv::CC_STAT_AREA) >= minArea ? 255 : 0;
    if (keep[label] == 0) ++removed;
  }
  cv::Mat filtered(labels.size(), CV_8UC1);
  for (int r = 0; r < labels.rows; ++r) {
    const int* in = labels.ptr<int>(r);
    unsigned char* out = filtered.ptr<unsigned char>(r);
    for (int c = 0; c < labels.cols; ++c) out[c] = keep[in[c]];
  }
  QZRef<FilteredBinaryImage> result(new FilteredBinaryImage);
  result->image.reset(new QZMatrix(filtered));
  result->removedComponents = removed;
  primaryData = result;
  KeepInputTransform();
}


void DP_ProcessContour::ComputePrimaryData() {
  QZRef<const FilteredBinaryImage> binary = InputData();
  if (!binary || !binary->image) return;
  QZRef<ContourSet> result(new ContourSet);
  cv::findContours(binary->image->GetMat().clone(), result->contours, cv::RETR_EXTERNAL, cv::CHAIN_APPROX_NONE);
  primaryData = result;
  KeepInputTransform();
}


void DP_ProcessLineSet::ComputePrimaryData() {
  QZRef<const ContourSet> contours = InputData();
  if (!contours) return;
  QZRef<const ImageWithQuad> region = LinkedData(linkedStage1);
  const bool marginOnly = m_mode.mode == LEM_MARGIN_BASED && region && region->image;
  cv::Size size;
  if (region && region->image) size = region->image->GetMat().size();
  const float margin = std::min(size.width, size.height) / 8.0f;
  const auto nearBorder = [&](const cv::Point& p) {
    return p.x < margin || p.y < margin || p.x >= size.width - margin || p.y >= size.height - margin;
  };
  QZRef<LineSegmentSet> result(new LineSegmentSet);
  for (const auto& contour : contours->contours) {
    if (contour.size() < 2) continue;
    std::vector<cv::Point> polygon;
    cv::approxPolyDP(contour, polygon, std::max(2.0, 0.02 * cv::arcLength(contour, true)), true);
    for (size_t i = 0; i < polygon.size(); ++i) {
      const cv::Point& a = polygon[i];
      const cv::Point& b = polygon[(i + 1) % polygon.size()];
      if (Length(a, b) < 8.0) continue;
      if (marginOnly && !(nearBorder(a) && nearBorder(b))) continue;
      result->segments.emplace_back(a.x, a.y, b.x, b.y);
    }
  }
  if (const QZMatrix* toRegion = linkedStage1 ? linkedStage1->GetTransformMatFromSourceImage() : nullptr) {
    QZRef<QZMatrix> back(new QZMatrix(toRegion->GetMat().clone()));
    if (back->Invert()) result->toSourceImage = back;  // else no way back: see LineSegmentSet
  }
  primaryData = result;
  KeepInputTransform();
}

}  // namespace orvex
