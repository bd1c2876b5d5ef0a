// Whole-image and region tree generation.
#include <orvex/paramtree/TreeGeneration.h>

#include <orvex/paramtree/StageNodes.h>

#include "paramtree/GeneratedModeHashes.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <utility>

namespace orvex {

thread_local GeneratedModeHashes* GeneratedModeHashes::t_current = nullptr;

const std::string* FindGeneratedModeHash(const void* recordOrList) { return GeneratedModeHashes::Find(recordOrList); }

namespace {

// Builds a node below `parent` and offers it to the tree, which links it to `parent` when
// it accepts it. A refused node is dropped; the result is then null.
template <class Node, class... Args>
Node* AddNode(QZParameterTree* tree, typename Node::ParentType* parent, const Args&... args) {
  Node* node = new Node(tree, parent, args...);
  QZRef<ParameterNodeBase> held(node);
  if (!tree->PushBackNode(node->GetGlobalHash(), std::move(held))) return nullptr;
  return node;
}

// Lists an accepted node in the tree's stage list of its stage.
template <class Node>
Node* Register(QZParameterTree* tree, Node* node) {
  if (node != nullptr) tree->GetNodesFromMap(node->GetDataUnitStageType()).push_back(node);
  return node;
}

// Builds the whole-image part into the empty tree `result`.
QZRef<QZParameterTree> GrowWholeImagePart(
    QZRef<QZParameterTree> result, int scalingDownParameter,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  QZParameterTree* tree = result.get();
  QZRef<PN_SourceImage> source(new PN_SourceImage(tree));
  if (!tree->PushBackNode(source->GetGlobalHash(), source)) return result;
  tree->SetRootNode(source.get());
  Register(tree, source.get());
  auto* fitted = AddNode<PN_ColourImageAfterSizeFitting>(tree, source.get());
  if (fitted == nullptr) return result;
  auto* scaled = AddNode<PN_ColourImageAfterScalingDown>(tree, fitted, scalingDownParameter);
  if (scaled == nullptr) return result;
  auto* colourForRegions = Register(tree, AddNode<PN_ColourImageForROI>(tree, scaled));
  if (colourForRegions == nullptr) return result;

  for (const QZVP_ColourConversionModeStruct& colour : colourConversionModes) {
    if (colour.mode == CICM_SKIP) continue;
    auto* gray = Register(tree, AddNode<PN_GrayscaleImageColourConverted>(tree, colourForRegions, colour));
    if (gray == nullptr) continue;
    for (const QZVP_GrayscaleTransformationModeStruct& transform : grayscaleTransformationModes) {
      auto* transformed = AddNode<PN_GrayscaleImageTransformed>(tree, gray, transform);
      if (transformed == nullptr) continue;
      auto* grayForRegions = Register(tree, AddNode<PN_GrayscaleImageForROI>(tree, transformed));
      if (grayForRegions == nullptr) continue;
      for (const QZVP_RegionPredetectionModeStruct& regions : regionPredetectionModes) {
        if (regions.mode == RPM_SKIP) continue;
        Register(tree, AddNode<PN_CandidateROIs>(tree, grayForRegions, regions));
      }
    }
  }
  return result;
}

}  // namespace

QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    int scalingDownParameter, const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  return GrowWholeImagePart(QZRef<QZParameterTree>(new QZParameterTree(tav::DUST_CANDIDATE_ROIS)), scalingDownParameter,
                            colourConversionModes, grayscaleTransformationModes, regionPredetectionModes);
}

QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    DataUnitManager* table, int scalingDownParameter,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  return GrowWholeImagePart(QZRef<QZParameterTree>(new QZParameterTree(tav::DUST_CANDIDATE_ROIS, table)),
                            scalingDownParameter, colourConversionModes, grayscaleTransformationModes,
                            regionPredetectionModes);
}

namespace {

// The lists of one region part, and the tree and region node it grows on.
struct RegionPart {
  QZParameterTree* tree;
  std::string regionNodeId;
  const std::vector<QZVP_GrayscaleEnhancementModeStruct>& enhancementModes;
  const std::vector<std::vector<QZVP_BinarizationModeStruct>>& binarizationGroups;
  const std::vector<QZVP_TextureDetectionModeStruct>& textureModes;
  const std::vector<QZVP_TextFilterModeStruct>& textFilterModes;
  const std::vector<QZVP_LineExtractionModeStruct>& lineModes;

  // The chain below one binary node, down to its line segments, which the relation lists.
  void GrowBelowBinary(PN_ROIBinaryImage* binary, const QZVP_GrayscaleEnhancementModeStruct& enhancement,
                       const QZVP_BinarizationModeStruct& binarization, ParamNodeRelation& relation) {
    auto* texture = AddNode<PN_ROITextureDetectionResult>(tree, binary, textureModes);
    if (texture == nullptr) return;
    auto* structurizing = Register(tree, AddNode<PN_ROIGrayscaleImageForStructurizing>(tree, texture, enhancement));
    if (structurizing == nullptr) return;
    auto* textFiltering = AddNode<PN_ROIBinaryImageForTextFiltering>(tree, structurizing, binarization);
    if (textFiltering == nullptr) return;
    auto* filtered = Register(tree, AddNode<PN_ROIBinaryImageForStructurizing>(tree, textFiltering, textFilterModes));
    if (filtered == nullptr) return;
    auto* contours = Register(tree, AddNode<PN_Contours>(tree, filtered));
    if (contours == nullptr) return;
    for (const QZVP_LineExtractionModeStruct& line : lineModes) {
      if (line.mode == LEM_SKIP) continue;
      if (auto* lines = Register(tree, AddNode<PN_LineSegments>(tree, contours, line))) {
        relation.GetChildNodes(tav::DUST_LINE_SEGMENTS).push_back(lines);
      }
    }
  }

  // Enhancement and binarization branches below one perspective-corrected node.
  void GrowBelowPerspective(PN_ROIGrayscaleImagePerspectiveCorrected* perspective) {
    for (const QZVP_GrayscaleEnhancementModeStruct& enhancement : enhancementModes) {
      if (enhancement.mode == GEM_SKIP) continue;
      auto* enhanced = AddNode<PN_ROIGrayscaleImageEnhanced>(tree, perspective, enhancement);
      if (enhanced == nullptr) continue;
      auto* processed = Register(tree, AddNode<PN_ROIGaryImageProcessed>(tree, enhanced));
      if (processed == nullptr) continue;
      for (const std::vector<QZVP_BinarizationModeStruct>& group : binarizationGroups) {
        std::vector<QZRef<ParamNodeRelation>> relations;
        for (const QZVP_BinarizationModeStruct& binarization : group) {
          if (binarization.mode == BM_SKIP) continue;
          auto* binary = Register(tree, AddNode<PN_ROIBinaryImage>(tree, processed, binarization));
          if (binary == nullptr) continue;
          relations.emplace_back(new ParamNodeRelation(binary));
          GrowBelowBinary(binary, enhancement, binarization, *relations.back());
        }
        if (!relations.empty()) tree->GetBinNodeGroupsOfRegion(regionNodeId).emplace_back(relations);
      }
    }
  }
};

// How many records of a list can give nodes (duplicates included: an upper bound).
template <class Record>
int UsableCount(const std::vector<Record>& records, int32_t skipMode) {
  int usable = 0;
  for (const Record& record : records) usable += record.mode != skipMode ? 1 : 0;
  return usable;
}

// Makes room in a stage list for `more` nodes, so large region parts do not grow the list
// four slots at a time.
void ReserveStage(QZParameterTree* tree, tav::DataUnitStageType stage, long more) {
  if (more <= 0) return;
  ParamNodeArray& list = tree->GetNodesFromMap(stage);
  const long wanted = list.GetCount() + more;
  if (more > 0 && wanted <= INT32_MAX) list.Reserve(static_cast<int>(wanted));
}

}  // namespace

void GenerateRegionImageParamTreeByModes(
    QZParameterTree* tree, ParameterNodeBase* regionNode,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_GrayscaleEnhancementModeStruct>& grayscaleEnhancementModes,
    const std::vector<std::vector<QZVP_BinarizationModeStruct>>& binarizationGroups,
    const std::vector<QZVP_TextureDetectionModeStruct>& textureDetectionModes,
    const std::vector<QZVP_TextFilterModeStruct>& textFilterModes,
    const std::vector<QZVP_LineExtractionModeStruct>& lineExtractionModes) {
  auto* candidates = dynamic_cast<PN_CandidateROIs*>(regionNode);
  // A finished tree is read by other threads: it is never changed, not even its end type.
  if (tree == nullptr || tree->IsFinished() || candidates == nullptr || candidates->GetTree() != tree) return;
  const std::string regionNodeId = candidates->GetGlobalHash();
  if (regionNodeId.empty()) return;
  tree->SetEndNodeType(tav::DUST_LINE_SEGMENTS);
  auto* colour = Register(tree, AddNode<PN_ROIColourImage>(tree, candidates));
  if (colour == nullptr) return;

  // Where the loops below branch on the way down the region stages: from each of these
  // stages on, every node has one child per usable record of the mode list. The product
  // up to a stage bounds its nodes (duplicates are refused), which are reserved at once.
  long usableBinarizations = 0;
  for (const auto& group : binarizationGroups) usableBinarizations += UsableCount(group, BM_SKIP);
  const std::pair<tav::DataUnitStageType, long> branchPoints[] = {
      {tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED, UsableCount(colourConversionModes, CICM_SKIP)},
      {tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED, static_cast<long>(grayscaleTransformationModes.size())},
      {tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED, UsableCount(grayscaleEnhancementModes, GEM_SKIP)},
      {tav::DUST_ROI_BINARY_IMAGE, usableBinarizations},
      {tav::DUST_LINE_SEGMENTS, UsableCount(lineExtractionModes, LEM_SKIP)}};
  constexpr long kMostNodes = 1L << 26;
  long perNode = 1, nodes = 0;
  const auto* branch = std::begin(branchPoints);
  for (int stage = tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    for (; branch != std::end(branchPoints) && branch->first == stage; ++branch) {
      perNode = std::min(perNode * branch->second, kMostNodes);
    }
    ReserveStage(tree, static_cast<tav::DataUnitStageType>(stage), perNode);
    nodes = std::min(nodes + perNode, kMostNodes);
  }
  if (nodes > 0 && nodes < kMostNodes) tree->ReserveNodes(static_cast<size_t>(nodes));

  // Copies of the lists whose records are hashed once from their texts, so that the many
  // nodes made from one record do not each render and hash it again.
  GeneratedModeHashes hashed;
  std::vector<QZVP_GrayscaleEnhancementModeStruct> enhancements = grayscaleEnhancementModes;
  hashed.HashAndList(enhancements);
  std::vector<std::vector<QZVP_BinarizationModeStruct>> binarizations = binarizationGroups;
  for (auto& group : binarizations) hashed.HashAndList(group);
  std::vector<QZVP_TextureDetectionModeStruct> textures = textureDetectionModes;
  hashed.HashAndList(textures);
  std::vector<QZVP_TextFilterModeStruct> textFilters = textFilterModes;
  hashed.HashAndList(textFilters);
  std::vector<QZVP_LineExtractionModeStruct> lines = lineExtractionModes;
  hashed.HashAndList(lines);
  RegionPart part{tree, regionNodeId, enhancements, binarizations, textures, textFilters, lines};
  for (const QZVP_ColourConversionModeStruct& colourMode : colourConversionModes) {
    if (colourMode.mode == CICM_SKIP) continue;
    auto* gray = AddNode<PN_ROIGrayscaleImageColourConverted>(tree, colour, colourMode);
    if (gray == nullptr) continue;
    for (const QZVP_GrayscaleTransformationModeStruct& transform : grayscaleTransformationModes) {
      auto* transformed = AddNode<PN_ROIGrayscaleImageTransformed>(tree, gray, transform);
      if (transformed == nullptr) continue;
      auto* selected = Register(tree, AddNode<PN_ROIGrayscaleImage>(tree, transformed));
      if (selected == nullptr) continue;
      auto* rotated = AddNode<PN_ROIGrayscaleImageRotated>(tree, selected);
      if (rotated == nullptr) continue;
      auto* perspective = AddNode<PN_ROIGrayscaleImagePerspectiveCorrected>(tree, rotated);
      if (perspective == nullptr) continue;
      part.GrowBelowPerspective(perspective);
    }
  }
}

}  // namespace orvex
