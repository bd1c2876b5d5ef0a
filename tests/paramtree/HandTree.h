// A parameter tree built by hand, one node per stage, as the generation would build one chain.
#ifndef ORVEX_TESTS_PARAMTREE_HANDTREE_H
#define ORVEX_TESTS_PARAMTREE_HANDTREE_H

#include "../datawrap/WrapChain.h"

namespace orvex {
namespace testing {

struct HandTree {
  QZRef<QZParameterTree> tree{new QZParameterTree(tav::DUST_CANDIDATE_ROIS)};
  PN_SourceImage* source;
  PN_ColourImageAfterSizeFitting* fitted;
  PN_ColourImageAfterScalingDown* scaled;
  PN_ColourImageForROI* colourForRegions;
  PN_GrayscaleImageColourConverted* gray;
  PN_GrayscaleImageTransformed* transformed;
  PN_GrayscaleImageForROI* grayForRegions;
  PN_CandidateROIs* regions;
  PN_ROIColourImage* roiColour;
  PN_ROIGrayscaleImageColourConverted* roiGray;
  PN_ROIGrayscaleImageTransformed* roiTransformed;
  PN_ROIGrayscaleImage* roiSelected;
  PN_ROIGrayscaleImageRotated* rotated;
  PN_ROIGrayscaleImagePerspectiveCorrected* perspective;
  PN_ROIGrayscaleImageEnhanced* enhanced;
  PN_ROIGaryImageProcessed* processed;
  PN_ROIBinaryImage* binary;
  PN_ROITextureDetectionResult* texture;
  PN_ROIGrayscaleImageForStructurizing* structurizing;
  PN_ROIBinaryImageForTextFiltering* textFiltering;
  PN_ROIBinaryImageForStructurizing* structurizingBinary;
  PN_Contours* contours;
  PN_LineSegments* lines;

  explicit HandTree(const ChainModes& modes = ChainModes()) {
    QZParameterTree* t = tree.get();
    source = Add(new PN_SourceImage(t));
    tree->SetRootNode(source);
    fitted = Add(new PN_ColourImageAfterSizeFitting(t, source));
    scaled = Add(new PN_ColourImageAfterScalingDown(t, fitted, modes.scalingDown));
    colourForRegions = Add(new PN_ColourImageForROI(t, scaled));
    gray = Add(new PN_GrayscaleImageColourConverted(t, colourForRegions, modes.colour));
    transformed = Add(new PN_GrayscaleImageTransformed(t, gray, modes.transform));
    grayForRegions = Add(new PN_GrayscaleImageForROI(t, transformed));
    regions = Add(new PN_CandidateROIs(t, grayForRegions, modes.regions));
    roiColour = Add(new PN_ROIColourImage(t, regions));
    roiGray = Add(new PN_ROIGrayscaleImageColourConverted(t, roiColour, modes.colour));
    roiTransformed = Add(new PN_ROIGrayscaleImageTransformed(t, roiGray, modes.transform));
    roiSelected = Add(new PN_ROIGrayscaleImage(t, roiTransformed));
    rotated = Add(new PN_ROIGrayscaleImageRotated(t, roiSelected));
    perspective = Add(new PN_ROIGrayscaleImagePerspectiveCorrected(t, rotated));
    enhanced = Add(new PN_ROIGrayscaleImageEnhanced(t, perspective, modes.enhancement));
    processed = Add(new PN_ROIGaryImageProcessed(t, enhanced));
    binary = Add(new PN_ROIBinaryImage(t, processed, modes.binarization));
    texture = Add(new PN_ROITextureDetectionResult(t, binary, modes.texture));
    structurizing = Add(new PN_ROIGrayscaleImageForStructurizing(t, texture, modes.enhancement));
    textFiltering = Add(new PN_ROIBinaryImageForTextFiltering(t, structurizing, modes.binarization));
    structurizingBinary = Add(new PN_ROIBinaryImageForStructurizing(t, textFiltering, modes.textFilter));
    contours = Add(new PN_Contours(t, structurizingBinary));
    lines = Add(new PN_LineSegments(t, contours, modes.lines));
  }

  // Every node in pipeline order.
  std::vector<ParameterNodeBase*> Nodes() const {
    return {source,     fitted,   scaled,    colourForRegions, gray,          transformed,   grayForRegions, regions,
            roiColour,  roiGray,  roiTransformed, roiSelected, rotated,       perspective,   enhanced,       processed,
            binary,     texture,  structurizing,  textFiltering, structurizingBinary, contours, lines};
  }

  // Adds the image and returns its hash id ("" when refused).
  std::string AddImage(const cv::Mat& image) {
    QZRef<QZMatrix> matrix(new QZMatrix(image));
    char id[kHashIdBufferSize] = "";
    return source->AddData(matrix, 0, 0, id) ? std::string(id) : std::string();
  }

  // Adds the first candidate region found for the image and returns its id.
  std::string AddFirstRegion(const std::string& imageId) {
    QZRef<DW_CandidateROIs> candidates = regions->GetData(imageId, true, true);
    if (!candidates || candidates->GetData(true) == nullptr) return "";
    QZRef<QZQuadList> quads = candidates->GetData(false)->GetPrimaryData(false);
    if (!quads || quads->quads.empty()) return "";
    char id[kHashIdBufferSize] = "";
    return roiColour->AddData(candidates.get(), quads->quads.front(), id) ? std::string(id) : std::string();
  }

 private:
  template <class Node>
  Node* Add(Node* node) {
    tree->PushBackNode(node->GetGlobalHash(), QZRef<ParameterNodeBase>(node));
    return node;
  }
};

inline DataUnitManager* Table() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }

}  // namespace testing
}  // namespace orvex

#endif
