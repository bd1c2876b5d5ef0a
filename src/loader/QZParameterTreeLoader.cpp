// The process-wide pool and the tree loader.
#include <orvex/loader/QZParameterTreeAndDataPool.h>

#include <orvex/modes/ModeListRules.h>
#include <orvex/paramtree/TreeGeneration.h>

namespace orvex {

// Built during the library's static initialisation; its destructor, registered for
// process exit by the same initialisation, drops the loader's groups and trees before
// the table of results.
QZParameterTreeAndDataPool QZParameterTreeAndDataPool::m_instance;
QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::m_instancePtr = &QZParameterTreeAndDataPool::m_instance;

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::GetInstance() { return m_instancePtr; }

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::SetInstance(QZParameterTreeAndDataPool* pool) {
  if (pool != nullptr) m_instancePtr = pool;
  return m_instancePtr;
}

QZParameterTreeAndDataPool* InitParamTreeAndDataPool(QZParameterTreeAndDataPool* pool) {
  return QZParameterTreeAndDataPool::SetInstance(pool);
}

}  // namespace orvex

namespace orvex {

std::mutex QZParameterTreeLoader::m_mutex;

QZParameterTreeLoader::~QZParameterTreeLoader() {
  // Groups first, so that they release their trees before the cache lets go of them.
  m_groupPool.clear();
  m_treeCache.clear();
}

QZRef<ParamTreeGroup> QZParameterTreeLoader::InitParameterTreeGroup(void* host, ParamTreeGroupCallback callback,
                                                                    const char* name) {
  if (callback == nullptr) return QZRef<ParamTreeGroup>();
  std::lock_guard<std::mutex> lock(m_mutex);
  return callback(host, this, name);
}

QZRef<QZParameterTree> QZParameterTreeLoader::CreateParameterTree(const std::string& name,
                                                                  QZ_ImageParameter* parameters) {
  if (name.empty()) return QZRef<QZParameterTree>();
  auto cached = m_treeCache.find(name);
  if (cached != m_treeCache.end()) return cached->second;
  if (parameters == nullptr) return QZRef<QZParameterTree>();
  std::vector<QZVP_GrayscaleTransformationModeStruct> transforms;
  FilterGrayscaleTransformationMode(parameters->grayscaleTransformationModes, transforms);
  QZRef<QZParameterTree> tree = GenerateWholeImageParamTreeByModes(
      parameters->scalingDownValue, parameters->colourConversionModes, transforms, parameters->regionPredetectionModes);
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

bool QZParameterTreeLoader::UpdateTreeGroups() {
  std::lock_guard<std::mutex> lock(m_mutex);
  bool removed = false;
  for (auto it = m_groupPool.begin(); it != m_groupPool.end();) {
    if (it->second && it->second->GetRefCount() <= 1) {
      it = m_groupPool.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  if (removed) UpdateParamTrees();
  return removed;
}

bool QZParameterTreeLoader::UpdateParamTrees() {
  bool removed = false;
  for (auto it = m_treeCache.begin(); it != m_treeCache.end();) {
    if (it->second && it->second->GetRefCount() <= 1) {
      it = m_treeCache.erase(it);
      removed = true;
    } else {
      ++it;
    }
  }
  return removed;
}

bool CheckTreeTypeByDataUnitStageType(tav::DataUnitStageType stage) { return stage > tav::DUST_CANDIDATE_ROIS; }

}  // namespace orvex
