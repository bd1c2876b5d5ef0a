// A whole chain of data wraps built by hand, as the parameter nodes would build it.
#ifndef ORVEX_TESTS_DATAWRAP_WRAPCHAIN_H
#define ORVEX_TESTS_DATAWRAP_WRAPCHAIN_H

#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"

namespace orvex {
namespace testing {

struct ChainModes {
  int scalingDown = 0;
  QZVP_ColourConversionModeStruct colour;
  QZVP_GrayscaleTransformationModeStruct transform{GTM_ORIGINAL};
  QZVP_RegionPredetectionModeStruct regions;
  QZVP_GrayscaleEnhancementModeStruct enhancement;
  QZVP_BinarizationModeStruct binarization;
  std::vector<QZVP_TextureDetectionModeStruct> texture;
  std::vector<QZVP_TextFilterModeStruct> textFilter;
  QZVP_LineExtractionModeStruct lines;

  ChainModes() {
    colour.mode = CICM_GENERAL;
    regions.mode = RPM_GENERAL_GRAY_CONTRAST;
    enhancement.mode = GEM_GRAY_EQUALIZE;
    binarization.mode = BM_LOCAL_BLOCK;
    binarization.intArg1 = 15;
    binarization.intArg5 = 10;
    texture.resize(1);
    texture[0].mode = TDM_GENERAL_WIDTH_CONCENTRATION;
    textFilter.resize(1);
    textFilter[0].mode = TFM_GENERAL_CONTOUR;
  }
};

// The eight whole-image wraps of one source image.
struct WholeChain {
  QZRef<DW_SourceImage> source;
  QZRef<DW_ColourImageAfterSizeFitting> fitted;
  QZRef<DW_ColourImageAfterScalingDown> scaled;
  QZRef<DW_ColourImageForROI> colourForRegions;
  QZRef<DW_GrayscaleImageColourConverted> gray;
  QZRef<DW_GrayscaleImageTransformed> transformed;
  QZRef<DW_GrayscaleImageForROI> grayForRegions;
  QZRef<DW_CandidateROIs> regions;

  WholeChain(const cv::Mat& image, const ChainModes& modes) {
    source.reset(new DW_SourceImage(QZRef<QZMatrix>(new QZMatrix(image)), 0, 0));
    source->SetDataHashID("source-id");
    source->SetSourceHashID("source-id");
    fitted.reset(new DW_ColourImageAfterSizeFitting(source.get()));
    scaled.reset(new DW_ColourImageAfterScalingDown(fitted.get(), modes.scalingDown));
    colourForRegions.reset(new DW_ColourImageForROI(scaled.get()));
    gray.reset(new DW_GrayscaleImageColourConverted(colourForRegions.get(), &modes.colour));
    transformed.reset(new DW_GrayscaleImageTransformed(gray.get(), &modes.transform));
    transformed->SetColourImageAfterScalingDownDataUnit(scaled.get());
    grayForRegions.reset(new DW_GrayscaleImageForROI(transformed.get()));
    regions.reset(new DW_CandidateROIs(grayForRegions.get(), &modes.regions));
    regions->SetColourImageAfterScalingDownDataUnit(scaled.get());
  }
};

// The first candidate region the whole chain finds (computing it), or an empty quad.
inline QZ_Quad FirstRegionOf(WholeChain& whole) {
  DP_DetectROIs* detector = whole.regions->GetData(true);
  QZRef<QZQuadList> found = detector != nullptr ? detector->GetPrimaryData(false) : QZRef<QZQuadList>();
  return found && !found->quads.empty() ? found->quads.front() : QZ_Quad();
}

// The fifteen wraps of one region, below a candidate-regions wrap.
struct RegionChain {
  QZRef<DW_ROIColourImage> colour;
  QZRef<DW_ROIGrayscaleImageColourConverted> gray;
  QZRef<DW_ROIGrayscaleImageTransformed> transformed;
  QZRef<DW_ROIGrayscaleImage> selected;
  QZRef<DW_ROIGrayscaleImageRotated> rotated;
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> perspective;
  QZRef<DW_ROIGrayscaleImageEnhanced> enhanced;
  QZRef<DW_ROIGaryImageProcessed> processed;
  QZRef<DW_ROIBinaryImage> binary;
  QZRef<DW_TextureDetectionResult> texture;
  QZRef<DW_ROIGrayscaleImageForStructurizing> structurizing;
  QZRef<DW_ROIBinaryImageForTextFiltering> textFiltering;
  QZRef<DW_ROIBinaryImageForStructurizing> structurizingBinary;
  QZRef<DW_Contours> contours;
  QZRef<DW_LineSegments> lines;

  RegionChain(WholeChain& whole, const QZ_Quad& quad, const ChainModes& modes) {
    colour.reset(new DW_ROIColourImage(whole.regions.get(), quad));
    gray.reset(new DW_ROIGrayscaleImageColourConverted(colour.get(), &modes.colour));
    gray->SetColourImageAfterScalingDownDataUnit(whole.scaled.get());
    gray->SetGrayscaleImageTransformedDataUnit(whole.transformed.get());
    transformed.reset(new DW_ROIGrayscaleImageTransformed(gray.get(), &modes.transform));
    selected.reset(new DW_ROIGrayscaleImage(transformed.get()));
    rotated.reset(new DW_ROIGrayscaleImageRotated(selected.get()));
    perspective.reset(new DW_ROIGrayscaleImagePerspectiveCorrected(rotated.get()));
    enhanced.reset(new DW_ROIGrayscaleImageEnhanced(perspective.get(), &modes.enhancement));
    processed.reset(new DW_ROIGaryImageProcessed(enhanced.get()));
    binary.reset(new DW_ROIBinaryImage(processed.get(), &modes.binarization));
    texture.reset(new DW_TextureDetectionResult(binary.get(), &modes.texture));
    structurizing.reset(new DW_ROIGrayscaleImageForStructurizing(texture.get(), &modes.enhancement));
    structurizing->SetROIGrayscaleImageEnhancedDataUnit(enhanced.get());
    structurizing->SetROIGrayscaleImagePerspectiveCorrectedDataUnit(perspective.get());
    textFiltering.reset(new DW_ROIBinaryImageForTextFiltering(structurizing.get(), &modes.binarization));
    textFiltering->SetTextureDetectionResultDataUnit(texture.get());
    textFiltering->SetROIBinaryImageDataUnit(binary.get());
    structurizingBinary.reset(new DW_ROIBinaryImageForStructurizing(textFiltering.get(), &modes.textFilter));
    contours.reset(new DW_Contours(structurizingBinary.get()));
    lines.reset(new DW_LineSegments(contours.get(), &modes.lines));
    lines->SetROIGrayscaleImagePerspectiveCorrectedDataUnit(perspective.get());
  }
};

}  // namespace testing
}  // namespace orvex

#endif
