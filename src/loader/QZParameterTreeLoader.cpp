// The process-wide pool and the tree loader.
#include <orvex/loader/QZParameterTreeAndDataPool.h>

#include <orvex/modes/ModeListRules.h>
#include <orvex/improc/DP_Template.h>
#include <orvex/paramtree/TreeGeneration.h>

#include "foundation/SoleHolderPurge.h"
#include "paramtree/RequestCounters.h"

#include <atomic>

namespace orvex {

// Built during the library's static initialisation; its destructor, registered for
// process exit by the same initialisation, drops the loader's groups and trees before
// the table of results.
QZParameterTreeAndDataPool QZParameterTreeAndDataPool::m_instance;
QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::m_instancePtr = &QZParameterTreeAndDataPool::m_instance;

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::GetInstance() { return m_instancePtr; }

namespace {

// The stage each processing-stage class computes for; the selecting stages 4, 7, 12 and
// 16 reuse their parents' computations and have none of their own.
constexpr tav::DataUnitStageType kStageOfKind[DPK_COUNT] = {
    tav::DUST_SOURCE_IMAGE,
    tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING,
    tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN,
    tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED,
    tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED,
    tav::DUST_CANDIDATE_ROIS,
    tav::DUST_ROI_COLOUR_IMAGE,
    tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED,
    tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED,
    tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED,
    tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED,
    tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED,
    tav::DUST_ROI_BINARY_IMAGE,
    tav::DUST_ROI_TEXTURE_DETECTION_RESULT,
    tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING,
    tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING,
    tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING,
    tav::DUST_CONTOURS,
    tav::DUST_LINE_SEGMENTS,
};

// The stage objects' counters at the last reset; they themselves only ever grow.
std::atomic<int64_t> g_computationBaseline[DPK_COUNT];
std::atomic<int64_t> g_nanosecondBaseline[DPK_COUNT];

}  // namespace

CacheStatistics QZParameterTreeAndDataPool::GetStatistics() {
  CacheStatistics statistics;
  for (int stage = 0; stage < kStatisticsStageSlots; ++stage) {
    StageStatistics& s = statistics.stages[stage];
    s.ownResults = requests::g_counts[stage][requests::kOwn].load(std::memory_order_relaxed);
    s.adoptedResults = requests::g_counts[stage][requests::kAdopted].load(std::memory_order_relaxed);
    s.createdResults = requests::g_counts[stage][requests::kCreated].load(std::memory_order_relaxed);
  }
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    StageStatistics& s = statistics.stages[kStageOfKind[kind]];
    const DP_StageKind stageKind = static_cast<DP_StageKind>(kind);
    s.computations = static_cast<uint64_t>(DP_CommonBase::GetComputationCount(stageKind) -
                                           g_computationBaseline[kind].load(std::memory_order_relaxed));
    s.computeNanoseconds = static_cast<uint64_t>(DP_CommonBase::GetComputeNanoseconds(stageKind) -
                                                 g_nanosecondBaseline[kind].load(std::memory_order_relaxed));
  }
  statistics.tableEntries = m_dataManager.GetDataMapSize();
  statistics.liveResultBytes = DP_CommonBase::GetLiveResultBytes();
  return statistics;
}

void QZParameterTreeAndDataPool::ResetStatistics() {
  for (auto& stage : requests::g_counts)
    for (auto& count : stage) count.store(0, std::memory_order_relaxed);
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    const DP_StageKind stageKind = static_cast<DP_StageKind>(kind);
    g_computationBaseline[kind].store(DP_CommonBase::GetComputationCount(stageKind), std::memory_order_relaxed);
    g_nanosecondBaseline[kind].store(DP_CommonBase::GetComputeNanoseconds(stageKind), std::memory_order_relaxed);
  }
}

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
  bool removed = false;
  {
    QZGraveyard groups;  // destroyed after the lock, releasing their trees
    std::lock_guard<std::mutex> lock(m_mutex);
    removed = ClaimEntriesHeldOnlyByMap(m_groupPool, groups);
  }
  if (removed) {
    QZGraveyard trees;  // destroyed after the lock
    std::lock_guard<std::mutex> lock(m_mutex);
    UpdateParamTrees(trees);
  }
  return removed;
}

bool QZParameterTreeLoader::UpdateParamTrees(QZGraveyard& dropped) {
  return ClaimEntriesHeldOnlyByMap(m_treeCache, dropped);
}

bool CheckTreeTypeByDataUnitStageType(tav::DataUnitStageType stage) { return stage > tav::DUST_CANDIDATE_ROIS; }

}  // namespace orvex
