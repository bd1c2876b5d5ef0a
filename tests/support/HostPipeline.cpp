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
  return loader->BuildTreeGroup(name, static_cast<QZ_ImageParameter*>(host));
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
  std::vector<std::string> regionIds = group.AddCandidateRegions(imageId);
  GenerateLineSegments(group, regionIds);
  return regionIds;
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
