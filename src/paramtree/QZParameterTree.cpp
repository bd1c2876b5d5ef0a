// The parameter tree: its nodes by id and by stage, its region groups and region ids, and
// the purge of a source image's results.
#include <orvex/paramtree/QZParameterTree.h>

#include <orvex/foundation/RoomForOneMore.h>

#include <atomic>

namespace orvex {

namespace {

// Reserved stage numbers run up to this one; the purge walks them all.
constexpr int kLastPurgedStage = 28;

// Where trees made without a table find theirs; constant-initialised, so it is null
// before any static initialiser of the library runs.
std::atomic<QZParameterTree::DefaultTableSource> g_defaultTableSource{nullptr};

DataUnitManager* DefaultTable() {
  const QZParameterTree::DefaultTableSource source = g_defaultTableSource.load(std::memory_order_acquire);
  return source != nullptr ? source() : nullptr;
}

}  // namespace

QZParameterTree::DefaultTableSource QZParameterTree::SetDefaultTableSource(DefaultTableSource source) {
  return g_defaultTableSource.exchange(source, std::memory_order_acq_rel);
}

QZParameterTree::QZParameterTree(tav::DataUnitStageType endNodeType) : QZParameterTree(endNodeType, DefaultTable()) {}

QZParameterTree::QZParameterTree(tav::DataUnitStageType endNodeType, DataUnitManager* table)
    : m_table(table),
      m_saveUnitType(0),
      m_endNodeType(endNodeType),
      m_rootNode(nullptr) {}

QZParameterTree::~QZParameterTree() {
  ExpectNoLibraryLockHeld("a parameter tree is freed");
  // The nodes go last taken first: children before their parents, in an order close to
  // the one they were made in.
  m_nodesById.clear();
  while (!m_ownedNodes.empty()) m_ownedNodes.pop_back();
  for (std::vector<ParameterNodeBase*>& stage : m_nodesByStage) stage.clear();
  m_binNodeGroupsOfRegion.clear();
  m_userCustomNodes.clear();
  m_stageLists.fill(nullptr);
  m_nodesMap.clear();
  m_regionIdsBySource.clear();
}

bool QZParameterTree::PushBackNode(const std::string& id, QZRef<ParameterNodeBase> node) {
  if (!node || IsFinished()) return false;
  const int stage = static_cast<int>(node->GetDataUnitStageType());
  if (id.empty() || m_nodesById.count(id) != 0 || stage < 0 || stage >= kStageSlots) return false;
  // Room first, so that nothing is changed when an allocation fails.
  std::vector<ParameterNodeBase*>& stageNodes = m_nodesByStage[stage];
  MakeRoomForOneMore(stageNodes);
  MakeRoomForOneMore(m_ownedNodes);
  ParameterNodeBase* parent = node->GetParent();
  if (parent != nullptr) parent->ReserveChild();
  // The node's own id text is the key whenever it is the id (as the generation offers it).
  const bool ownId = id == node->GetGlobalHash();
  const std::string_view key = ownId ? std::string_view(node->GetGlobalHash()) : std::string_view(m_otherIds.emplace_back(id));
  try {
    m_nodesById.emplace(key, node.get());
  } catch (...) {
    if (!ownId) m_otherIds.pop_back();
    throw;
  }
  stageNodes.push_back(node.get());
  if (parent != nullptr) parent->AddChildNode(node.get());
  m_ownedNodes.push_back(std::move(node));
  return true;
}

void QZParameterTree::ReserveNodes(size_t more) {
  m_nodesById.reserve(m_nodesById.size() + more);
  m_ownedNodes.reserve(m_ownedNodes.size() + more);
}

QZRef<ParameterNodeBase> QZParameterTree::FindTreeNodeFromMapByID(const std::string& id) const {
  auto found = m_nodesById.find(id);
  return found != m_nodesById.end() ? QZRef<ParameterNodeBase>(found->second) : QZRef<ParameterNodeBase>();
}

std::vector<ParameterNodeBase*> QZParameterTree::GetAllNodesOfStage(tav::DataUnitStageType stage) const {
  const int slot = static_cast<int>(stage);
  return slot >= 0 && slot < kStageSlots ? m_nodesByStage[slot] : std::vector<ParameterNodeBase*>();
}

ParamNodeArray& QZParameterTree::GetNodesFromMap(tav::DataUnitStageType stage) {
  const int slot = static_cast<int>(stage);
  if (slot < 0 || slot >= kStageSlots) return m_nodesMap[stage];
  if (m_stageLists[slot] == nullptr) m_stageLists[slot] = &m_nodesMap[stage];
  return *m_stageLists[slot];
}

const ParamNodeArray& QZParameterTree::FindNodesOfStage(tav::DataUnitStageType stage) const {
  const auto found = m_nodesMap.find(stage);
  return found != m_nodesMap.end() ? found->second : m_noNodes;
}

ParameterNodeBase* QZParameterTree::GetUserCustomNode(tav::DataUnitStageType stage) const {
  auto found = m_userCustomNodes.find(stage);
  return found != m_userCustomNodes.end() ? found->second : nullptr;
}

void QZParameterTree::SetUserCustomNode(tav::DataUnitStageType stage, ParameterNodeBase* node) {
  m_userCustomNodes[stage] = node;
}

std::vector<ParamNodeGroup>& QZParameterTree::GetBinNodeGroupsOfRegion(const std::string& regionNodeId) {
  return m_binNodeGroupsOfRegion[regionNodeId];
}

void QZParameterTree::AddRegionId(const std::string& sourceImageHashId, const std::string& regionId) {
  MutexLock lock(m_regionIdsMutex);
  m_regionIdsBySource[sourceImageHashId].push_back(regionId);
}

std::vector<std::string> QZParameterTree::GetRegionIds(const std::string& sourceImageHashId) const {
  MutexLock lock(m_regionIdsMutex);
  auto found = m_regionIdsBySource.find(sourceImageHashId);
  return found != m_regionIdsBySource.end() ? found->second : std::vector<std::string>();
}

int QZParameterTree::GetRegionIdSourceCount() const {
  MutexLock lock(m_regionIdsMutex);
  return static_cast<int>(m_regionIdsBySource.size());
}

void QZParameterTree::DropSourceResults(const std::string& sourceImageHashId, const StageTypeCounter* counter,
                                        DroppedResults& dropped) {
  for (int stage = 1; stage <= kLastPurgedStage; ++stage) {
    const bool keep = counter != nullptr && counter->IsTypeNeedSave(static_cast<tav::DataUnitStageType>(stage));
    if (keep) continue;
    for (ParameterNodeBase* node : m_nodesByStage[stage]) node->RemoveSameSourceData(sourceImageHashId, dropped);
    if (stage == tav::DUST_ROI_COLOUR_IMAGE) {
      // The image's regions are gone from this tree with their results.
      MutexLock lock(m_regionIdsMutex);
      m_regionIdsBySource.erase(sourceImageHashId);
    }
  }
}

void QZParameterTree::RemoveSameSourceData(const std::string& sourceImageHashId, const StageTypeCounter* counter) {
  {
    DroppedResults dropped(m_table);
    DropSourceResults(sourceImageHashId, counter, dropped);
  }
  if (m_table != nullptr) m_table->UpdateTotalDataMapUntilSettled();
}

}  // namespace orvex
