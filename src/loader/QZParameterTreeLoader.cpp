// The tree loader: registration and clean-up of groups, and the trees it builds.
#include <orvex/loader/QZParameterTreeLoader.h>

#include <orvex/modes/ModeListRules.h>
#include "paramtree/TreeGeneration.h"

#include "loader/SoleHolderPurge.h"

namespace orvex {

QZParameterTreeLoader::~QZParameterTreeLoader() {
  // Groups first, so that they release their trees before the cache lets go of them.
  m_groupPool.clear();
  m_treeCache.clear();
}

QZRef<ParamTreeGroup> QZParameterTreeLoader::InitParameterTreeGroup(void* host, ParamTreeGroupCallback callback,
                                                                    const char* name) {
  if (callback == nullptr) return QZRef<ParamTreeGroup>();
  MutexLock lock(m_mutex);
  QZRef<ParamTreeGroup> group = callback(host, this, name);
  // Other threads read what registration built from now on: no tree changes any more,
  // so registering a name again leaves the cached tree as it is.
  if (group && group->GetTree() != nullptr) group->GetTree()->MarkFinished();
  for (auto& cached : m_treeCache) {
    if (cached.second) cached.second->MarkFinished();
  }
  return group;
}

QZRef<QZParameterTree> QZParameterTreeLoader::CreateParameterTree(const std::string& name,
                                                                  QZ_ImageParameter* parameters) {
  if (name.empty()) return QZRef<QZParameterTree>();
  auto cached = m_treeCache.find(name);
  if (cached != m_treeCache.end()) return cached->second;
  if (parameters == nullptr) return QZRef<QZParameterTree>();
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms;
  FilterGrayscaleTransformationMode(parameters->grayscaleTransformationModes, transforms);
  QZRef<QZParameterTree> tree =
      m_table != nullptr
          ? GenerateWholeImageParamTreeByModes(m_table, parameters->scalingDownValue,
                                               parameters->colourConversionModes, transforms,
                                               parameters->regionPredetectionModes)
          : GenerateWholeImageParamTreeByModes(parameters->scalingDownValue, parameters->colourConversionModes,
                                               transforms, parameters->regionPredetectionModes);
  if (tree) m_treeCache[name] = tree;
  return tree;
}

void QZParameterTreeLoader::ExtandRegionPart(QZParameterTree* tree, ParameterNodeBase* regionNode,
                                             QZ_ImageParameter* parameters) {
  if (tree == nullptr || regionNode == nullptr || parameters == nullptr) return;
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms;
  FilterGrayscaleTransformationMode(parameters->grayscaleTransformationModes, transforms);
  std::vector<std::vector<QZVP_BinarizationModeStruct>> binarizationGroups;
  ExtandBinarizationMode(parameters->binarizationModes, binarizationGroups);
  GenerateRegionImageParamTreeByModes(tree, regionNode, parameters->colourConversionModes, transforms,
                                      parameters->grayscaleEnhancementModes, binarizationGroups,
                                      parameters->textureDetectionModes, parameters->textFilterModes,
                                      parameters->lineExtractionModes);
}

QZRef<ParamTreeGroup> QZParameterTreeLoader::BuildTreeGroup(const char* name, QZ_ImageParameter* parameters) {
  if (name == nullptr) return QZRef<ParamTreeGroup>();
  QZRef<QZParameterTree> tree = CreateParameterTree(name, parameters);
  if (!tree) return QZRef<ParamTreeGroup>();
  QZRef<ParamTreeGroup> group(new ParamTreeGroup(tree));
  // A copy of the list: the region parts grow the tree's lists meanwhile.
  const ParamNodeArray regionNodes = group->GetRegionNodes();
  for (int i = 0; i < regionNodes.GetCount(); ++i) ExtandRegionPart(tree, regionNodes[i], parameters);
  m_groupPool[name] = group;
  return group;
}

bool QZParameterTreeLoader::UpdateTreeGroups() {
  bool removed = false;
  {
    QZGraveyard groups;  // destroyed after the lock, releasing their trees
    MutexLock lock(m_mutex);
    removed = ClaimEntriesHeldOnlyByMap(m_groupPool, groups);
  }
  if (removed) {
    QZGraveyard trees;  // destroyed after the lock
    MutexLock lock(m_mutex);
    UpdateParamTrees(trees);
  }
  return removed;
}

int QZParameterTreeLoader::GetCachedTreeCount() const {
  MutexLock lock(m_mutex);
  return static_cast<int>(m_treeCache.size());
}

bool QZParameterTreeLoader::UpdateParamTrees(QZGraveyard& dropped) {
  return ClaimEntriesHeldOnlyByMap(m_treeCache, dropped);
}

bool CheckTreeTypeByDataUnitStageType(tav::DataUnitStageType stage) { return stage > tav::DUST_CANDIDATE_ROIS; }

}  // namespace orvex
