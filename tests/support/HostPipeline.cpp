#include "HostPipeline.h"

namespace orvex {
namespace testing {

QZ_ImageParameter PageParameters(int binarizationOffset) {
  QZ_ImageParameter p;
  p.scalingDownValue = 800;
  QZVP_ColourConversionModeStruct colour;
  colour.mode = CICM_GENERAL;
  p.colourConversionModes = {colour};
  p.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_ORIGINAL)};
  QZVP_RegionPredetectionModeStruct regions;
  regions.mode = RPM_GENERAL_GRAY_CONTRAST;
  p.regionPredetectionModes = {regions};
  QZVP_GrayscaleEnhancementModeStruct enhancement;
  enhancement.mode = GEM_GRAY_EQUALIZE;
  p.grayscaleEnhancementModes = {enhancement};
  QZVP_BinarizationModeStruct binarization;
  binarization.mode = BM_LOCAL_BLOCK;
  binarization.intArg1 = 15;
  binarization.intArg5 = binarizationOffset;
  p.binarizationModes = {binarization};
  p.textureDetectionModes.resize(1);
  p.textureDetectionModes[0].mode = TDM_GENERAL_WIDTH_CONCENTRATION;
  p.textFilterModes.resize(1);
  p.textFilterModes[0].mode = TFM_GENERAL_CONTOUR;
  QZVP_LineExtractionModeStruct lines;
  lines.mode = LEM_GENERAL;
  p.lineExtractionModes = {lines};
  return p;
}

QZRef<ParamTreeGroup> RegisterGroup(void* host, QZParameterTreeLoader* loader, const char* name) {
  auto* parameters = static_cast<QZ_ImageParameter*>(host);
  QZRef<QZParameterTree> tree = loader->CreateParameterTree(name, parameters);
  QZRef<ParamTreeGroup> group(new ParamTreeGroup(tree));
  const ParamNodeArray regionNodes = group->GetRegionNodes();
  for (int i = 0; i < regionNodes.GetCount(); ++i) loader->ExtandRegionPart(tree.get(), regionNodes[i], parameters);
  loader->GetParamTreeGroupPool()[name] = group;
  return group;
}

std::vector<std::string> AddCandidateRegions(ParamTreeGroup& group, const std::string& imageId) {
  std::vector<std::string> regionIds;
  const ParamNodeArray& regionNodes = group.GetRegionNodes();
  for (int i = 0; i < regionNodes.GetCount(); ++i) {
    auto* candidatesNode = static_cast<PN_CandidateROIs*>(regionNodes[i]);
    QZRef<DW_CandidateROIs> candidates = candidatesNode->GetData(imageId, true, true);
    if (!candidates || candidates->GetData(true) == nullptr) continue;
    QZRef<QZQuadList> quads = candidates->GetData(false)->GetPrimaryData(false);
    if (!quads) continue;
    const ParamNodeArray& children = candidatesNode->GetChildren();
    for (int c = 0; c < children.GetCount(); ++c) {
      auto* roiNode = static_cast<PN_ROIColourImage*>(children[c]);
      for (const QZ_Quad& quad : quads->quads) {
        char id[kHashIdBufferSize];
        if (roiNode->AddData(candidates.get(), quad, id)) regionIds.push_back(id);
      }
    }
  }
  return regionIds;
}

void GenerateLineSegments(ParamTreeGroup& group, const std::vector<std::string>& regionIds) {
  const ParamNodeArray& lineNodes = group.GetTree()->FindNodesOfStage(tav::DUST_LINE_SEGMENTS);
  for (int i = 0; i < lineNodes.GetCount(); ++i) {
    for (const std::string& region : regionIds) {
      if (QZRef<DW_LineSegments> lines = static_cast<PN_LineSegments*>(lineNodes[i])->GetData(region, true, true)) {
        lines->GetData(true);
      }
    }
  }
}

std::vector<std::string> AddRegionsAndGenerateLines(ParamTreeGroup& group, const std::string& imageId) {
  std::vector<std::string> regionIds = AddCandidateRegions(group, imageId);
  GenerateLineSegments(group, regionIds);
  return regionIds;
}

StageRequestMap KeepEveryStage() {
  StageRequestMap keep;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage)
    keep[static_cast<tav::DataUnitStageType>(stage)] = 1;
  return keep;
}

std::vector<int> ComputationCounts() {
  std::vector<int> counts;
  for (int kind = 0; kind < DPK_COUNT; ++kind) counts.push_back(DP_CommonBase::GetComputationCount(DP_StageKind(kind)));
  return counts;
}

std::vector<int> ComputationsSince(const std::vector<int>& before) {
  std::vector<int> now = ComputationCounts();
  for (size_t i = 0; i < now.size(); ++i) now[i] -= before[i];
  return now;
}

}  // namespace testing
}  // namespace orvex
