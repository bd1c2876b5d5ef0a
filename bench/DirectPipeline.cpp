#include "DirectPipeline.h"

#include <algorithm>
#include <tuple>

namespace orvexbench {

using namespace orvex;

bool Segment::operator<(const Segment& o) const {
  return std::tie(regionX, regionY, x1, y1, x2, y2) < std::tie(o.regionX, o.regionY, o.x1, o.y1, o.x2, o.y2);
}

bool Segment::operator==(const Segment& o) const {
  return std::tie(regionX, regionY, x1, y1, x2, y2) == std::tie(o.regionX, o.regionY, o.x1, o.y1, o.x2, o.y2);
}

namespace {

void Collect(const QZ_Quad& quad, const LineSegmentSet* lines, std::vector<Segment>& out) {
  if (lines == nullptr) return;
  for (const cv::Vec4f& s : lines->segments) out.push_back({quad.GetPoint(0).x, quad.GetPoint(0).y, s[0], s[1], s[2], s[3]});
}

// The stages of one region up to the enhanced image, shared by every binarization.
struct RegionPrefix {
  QZRef<DP_PerspectiveROIImage> perspective;
  QZRef<DP_EnhanceROIImage> enhanced;
};

RegionPrefix RunRegionPrefix(DP_DetectROIs* detect, const QZ_Quad& quad, DP_ScalingDownImage* scaled,
                             DP_GrayTransformWholeImage* transformed, const QZ_ImageParameter& p,
                             const QZVP_GrayscaleTransformationModeStruct& transform) {
  QZRef<DP_ROIImage> roi(new DP_ROIImage(detect, quad));
  QZRef<DP_ColourConvertROIImage> gray(new DP_ColourConvertROIImage(roi.get(), &p.colourConversionModes[0]));
  gray->linkedStage1.reset(scaled);
  gray->linkedStage2.reset(transformed);
  QZRef<DP_GrayTransformROIImage> regionTransformed(new DP_GrayTransformROIImage(gray.get(), &transform));
  QZRef<DP_RotateROIImage> rotated(new DP_RotateROIImage(regionTransformed.get()));
  RegionPrefix prefix;
  prefix.perspective.reset(new DP_PerspectiveROIImage(rotated.get()));
  prefix.enhanced.reset(new DP_EnhanceROIImage(prefix.perspective.get(), &p.grayscaleEnhancementModes[0]));
  prefix.enhanced->GetPrimaryData(true);
  return prefix;
}

QZRef<DP_ProcessLineSet> RunBinarization(const RegionPrefix& prefix, const QZ_ImageParameter& p,
                                         const QZVP_BinarizationModeStruct& binarization) {
  QZRef<DP_BinarizeROIImage> binary(new DP_BinarizeROIImage(prefix.enhanced.get(), &binarization));
  QZRef<DP_TextureDetectImage> texture(new DP_TextureDetectImage(binary.get(), &p.textureDetectionModes));
  QZRef<DP_EnhanceTextureImage> structurizing(new DP_EnhanceTextureImage(texture.get(), &p.grayscaleEnhancementModes[0]));
  structurizing->linkedStage1 = prefix.enhanced;
  structurizing->linkedStage2 = prefix.perspective;
  QZRef<DP_BinarizeTextureImage> textBinary(new DP_BinarizeTextureImage(structurizing.get(), &binarization));
  textBinary->linkedStage1 = texture;
  textBinary->linkedStage2 = binary;
  QZRef<DP_TextFilteringImage> filtered(new DP_TextFilteringImage(textBinary.get(), &p.textFilterModes));
  QZRef<DP_ProcessContour> contours(new DP_ProcessContour(filtered.get()));
  QZRef<DP_ProcessLineSet> lines(new DP_ProcessLineSet(contours.get(), &p.lineExtractionModes[0]));
  lines->linkedStage1 = prefix.perspective;
  lines->GetPrimaryData(true);
  return lines;
}

// The whole pipeline for `sets` that share everything but their binarization. Every stage
// object is kept until the end, as a host that reads the results back keeps them.
std::vector<Segment> RunShared(const cv::Mat& page, const std::vector<QZ_ImageParameter>& sets) {
  std::vector<RegionPrefix> prefixes;
  std::vector<QZRef<DP_ProcessLineSet>> lineSets;
  const QZ_ImageParameter& p = sets.front();
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms;
  FilterGrayscaleTransformationMode(p.grayscaleTransformationModes, transforms);
  QZRef<DP_SourceImage> source(new DP_SourceImage(QZRef<QZMatrix>(new QZMatrix(page)), 0, 0));
  QZRef<DP_SizeFittingImage> fitted(new DP_SizeFittingImage(source.get()));
  QZRef<DP_ScalingDownImage> scaled(new DP_ScalingDownImage(fitted.get(), p.scalingDownValue));
  QZRef<DP_ColourConvertWholeImage> gray(new DP_ColourConvertWholeImage(scaled.get(), &p.colourConversionModes[0]));
  QZRef<DP_GrayTransformWholeImage> transformed(new DP_GrayTransformWholeImage(gray.get(), &transforms[0]));
  transformed->linkedStage1 = scaled;
  QZRef<DP_DetectROIs> detect(new DP_DetectROIs(transformed.get(), &p.regionPredetectionModes[0]));
  detect->linkedStage1 = scaled;
  QZRef<QZQuadList> quads = detect->GetPrimaryData(true);
  std::vector<Segment> segments;
  for (const QZ_Quad& quad : quads ? quads->quads : std::vector<QZ_Quad>()) {
    prefixes.push_back(RunRegionPrefix(detect.get(), quad, scaled.get(), transformed.get(), p, transforms[0]));
    for (const QZ_ImageParameter& set : sets) {
      lineSets.push_back(RunBinarization(prefixes.back(), set, set.binarizationModes[0]));
      Collect(quad, lineSets.back()->GetPrimaryData(false).get(), segments);
    }
  }
  std::sort(segments.begin(), segments.end());
  return segments;
}

}  // namespace

std::vector<Segment> RunLowerBound(const cv::Mat& page, const std::vector<QZ_ImageParameter>& sets) {
  return RunShared(page, sets);
}

std::vector<Segment> RunNaive(const cv::Mat& page, const std::vector<QZ_ImageParameter>& sets) {
  std::vector<Segment> segments;
  for (const QZ_ImageParameter& set : sets) {
    const std::vector<Segment> one = RunShared(page, {set});
    segments.insert(segments.end(), one.begin(), one.end());
  }
  std::sort(segments.begin(), segments.end());
  return segments;
}

std::vector<Segment> SegmentsOfGroups(const std::vector<ParamTreeGroup*>& groups,
                                      const std::vector<std::string>& regionIds) {
  std::vector<Segment> segments;
  for (ParamTreeGroup* group : groups) {
    const ParamNodeArray& lineNodes = group->GetTree()->FindNodesOfStage(tav::DUST_LINE_SEGMENTS);
    for (const std::string& region : regionIds) {
      QZRef<DW_Base> regionResult;
      group->GetTree()->GetTable()->GetFromTotalDataMap(region, regionResult);
      const auto* regionImage = dynamic_cast<const DW_ROIColourImage*>(regionResult.get());
      if (regionImage == nullptr) continue;
      for (int i = 0; i < lineNodes.GetCount(); ++i) {
        QZRef<DW_LineSegments> lines = static_cast<PN_LineSegments*>(lineNodes[i])->GetData(region, false, false);
        if (lines && lines->GetData(false) != nullptr) {
          Collect(regionImage->GetQuad(), lines->GetData(false)->GetPrimaryData(false).get(), segments);
        }
      }
    }
  }
  std::sort(segments.begin(), segments.end());
  return segments;
}

}  // namespace orvexbench
