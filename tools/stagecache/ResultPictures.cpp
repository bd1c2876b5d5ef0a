#include "ResultPictures.h"

#include <opencv2/imgproc.hpp>

#include <utility>

namespace stagecache {

using namespace orvex;

namespace {

const cv::Scalar kContourColour(40, 190, 40);
const cv::Scalar kTextureColour(0, 140, 240);

// Colour pictures to draw on: gray and colour images as 3 channels, always a copy.
cv::Mat ColourCopy(const cv::Mat& image) {
  cv::Mat colour;
  if (image.channels() == 1) cv::cvtColor(image, colour, cv::COLOR_GRAY2BGR);
  else if (image.channels() == 4) cv::cvtColor(image, colour, cv::COLOR_BGRA2BGR);
  else colour = image.clone();
  return colour;
}

template <int N>
void ReadyAt(DW_Base& wrap) {
  if (auto* typed = dynamic_cast<stages::WrapOf<N>*>(&wrap)) typed->GetData(true);
}

// Computes the wrap's result, or loads it from the store, unless it is there already.
template <int... Offsets>
void Ready(DW_Base& wrap, std::integer_sequence<int, Offsets...>) {
  const int stage = static_cast<int>(wrap.GetStageType());
  ((stage == stages::kFirstStage + Offsets ? (void)ReadyAt<stages::kFirstStage + Offsets>(wrap) : (void)0), ...);
}

// The wrap's ancestor of `stage`, its result made ready: a result taken from a store was
// restored without its ancestors, and the picture needs the image it belongs to.
QZRef<DW_Base> ReadyAncestor(const DW_Base& wrap, tav::DataUnitStageType stage) {
  for (QZRef<DW_Base> ancestor = wrap.GetParentPinned(); ancestor; ancestor = ancestor->GetParentPinned()) {
    if (ancestor->GetStageType() != stage) continue;
    Ready(*ancestor, stages::kEveryStage);
    return ancestor;
  }
  return QZRef<DW_Base>();
}

// Non-image results of region stages are in the coordinates of the perspective-corrected
// region image, which the stages after it keep: the picture is drawn over that image.
cv::Mat RegionImageOf(const DW_Base& wrap) {
  const QZRef<DW_Base> region = ReadyAncestor(wrap, tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED);
  const cv::Mat pixels = region ? PixelsOf(*region) : cv::Mat();
  return pixels.empty() ? cv::Mat() : ColourCopy(pixels);
}

// The region image of the result, or a white canvas of `size` when it has none or
// another size.
cv::Mat CanvasFor(const tav::CDataUnit& unit, const cv::Size& size) {
  const auto* wrap = dynamic_cast<const DW_Base*>(&unit);
  cv::Mat canvas = wrap != nullptr ? RegionImageOf(*wrap) : cv::Mat();
  if (canvas.empty() || (size.area() > 0 && canvas.size() != size)) {
    canvas = cv::Mat(size.area() > 0 ? size : cv::Size(64, 64), CV_8UC3, cv::Scalar::all(255));
  }
  return canvas;
}

template <class Wrap>
auto PrimaryDataOf(const tav::CDataUnit& unit) -> decltype(const_cast<Wrap*>(static_cast<const Wrap*>(&unit))
                                                                ->GetData(false)
                                                                ->GetPrimaryData(false)) {
  auto* wrap = const_cast<Wrap*>(dynamic_cast<const Wrap*>(&unit));
  if (wrap == nullptr || wrap->GetData(false) == nullptr) return {};
  return wrap->GetData(false)->GetPrimaryData(false);
}

cv::Mat DrawCandidateRegions(const tav::CDataUnit& unit) {
  auto* wrap = const_cast<DW_CandidateROIs*>(dynamic_cast<const DW_CandidateROIs*>(&unit));
  DP_DetectROIs* stage = wrap != nullptr ? wrap->GetData(false) : nullptr;
  if (stage == nullptr) return cv::Mat();
  const QZRef<QZQuadList> quads = stage->GetPrimaryData(false);
  if (!quads) return cv::Mat();
  // The colour image the regions were found in; made ready when the regions were taken
  // from a store.
  QZRef<const QZMatrix> colour = stage->GetColourImage();
  if (!colour) {
    const QZRef<DW_Base> scaled = ReadyAncestor(*wrap, tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN);
    colour = stage->GetColourImage();
    if (!colour && scaled && !PixelsOf(*scaled).empty()) colour = QZRef<const QZMatrix>(new QZMatrix(PixelsOf(*scaled)));
  }
  if (!colour) return cv::Mat();
  cv::Mat picture = ColourCopy(colour->GetMat());
  const int thickness = std::max(2, picture.cols / 300);
  for (const QZ_Quad& quad : quads->quads) {
    std::vector<cv::Point> corners;
    for (int i = 0; i < 4; ++i) corners.push_back(quad.GetPoint(i));
    cv::polylines(picture, corners, true, kRegionColour, thickness);
  }
  return picture;
}

cv::Mat DrawTexture(const tav::CDataUnit& unit) {
  const QZRef<TextureDetectionResult> texture = PrimaryDataOf<DW_TextureDetectionResult>(unit);
  if (!texture || !texture->textureMask) return cv::Mat();
  const cv::Mat& mask = texture->textureMask->GetMat();
  cv::Mat picture = CanvasFor(unit, mask.size());
  cv::Mat tinted;
  cv::addWeighted(picture, 0.5, cv::Mat(picture.size(), CV_8UC3, kTextureColour), 0.5, 0, tinted);
  tinted.copyTo(picture, mask);
  return picture;
}

cv::Mat DrawContours(const tav::CDataUnit& unit) {
  const QZRef<ContourSet> contours = PrimaryDataOf<DW_Contours>(unit);
  if (!contours) return cv::Mat();
  cv::Rect bounds;
  for (const std::vector<cv::Point>& contour : contours->contours) bounds |= cv::boundingRect(contour);
  cv::Mat picture = CanvasFor(unit, cv::Size());
  if (picture.cols < bounds.br().x || picture.rows < bounds.br().y) {
    picture = cv::Mat(cv::Size(bounds.br().x + 1, bounds.br().y + 1), CV_8UC3, cv::Scalar::all(255));
  }
  cv::drawContours(picture, contours->contours, -1, kContourColour, 1);
  return picture;
}

cv::Mat DrawLineSegments(const tav::CDataUnit& unit) {
  const QZRef<LineSegmentSet> lines = PrimaryDataOf<DW_LineSegments>(unit);
  if (!lines) return cv::Mat();
  cv::Mat picture = CanvasFor(unit, cv::Size());
  for (const cv::Vec4f& s : lines->segments) {
    cv::line(picture, cv::Point2f(s[0], s[1]), cv::Point2f(s[2], s[3]), kLineColour, 2);
  }
  return picture;
}

}  // namespace

cv::Mat PictureOf(const tav::CDataUnit& unit) {
  switch (unit.GetStageType()) {
    case tav::DUST_CANDIDATE_ROIS: return DrawCandidateRegions(unit);
    case tav::DUST_ROI_TEXTURE_DETECTION_RESULT: return DrawTexture(unit);
    case tav::DUST_CONTOURS: return DrawContours(unit);
    case tav::DUST_LINE_SEGMENTS: return DrawLineSegments(unit);
    default: return PixelsOf(unit);
  }
}

}  // namespace stagecache
