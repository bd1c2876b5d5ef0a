// The process-wide pool: its table, its loader and its statistics.
#include <orvex/loader/QZParameterTreeAndDataPool.h>

#include <orvex/stages/StageTable.h>

#include <array>
#include <utility>

namespace orvex {

// Built during the library's static initialisation; its destructor, registered for
// process exit by the same initialisation, drops the loader's groups and trees before
// the table of results.
QZParameterTreeAndDataPool QZParameterTreeAndDataPool::m_instance;
std::atomic<QZParameterTreeAndDataPool*> QZParameterTreeAndDataPool::m_instancePtr{&QZParameterTreeAndDataPool::m_instance};

QZParameterTreeAndDataPool::QZParameterTreeAndDataPool() : m_treeLoader(&m_dataManager) {}

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::GetInstance() {
  return m_instancePtr.load(std::memory_order_acquire);
}

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::SetInstance(QZParameterTreeAndDataPool* pool) {
  if (pool != nullptr) m_instancePtr.store(pool, std::memory_order_release);
  return GetInstance();
}

QZParameterTreeAndDataPool* InitParamTreeAndDataPool(QZParameterTreeAndDataPool* pool) {
  return QZParameterTreeAndDataPool::SetInstance(pool);
}

namespace {

// Trees made without a table share their results through the pool in use; named as the
// library loads, before a host can make a tree.
DataUnitManager* TableOfThePoolInUse() { return QZParameterTreeAndDataPool::GetInstance()->GetDataManager(); }
[[maybe_unused]] const bool kTreesShareThroughThePool = (QZParameterTree::SetDefaultTableSource(&TableOfThePoolInUse), true);

// The stage each processing-stage class computes for, from the stage table; the stages
// that select their parents' results (4, 7, 12, 16) run no computations of their own.
template <int Stage>
constexpr void NoteStageOfKind(std::array<int, DPK_COUNT>& stageOfKind) {
  if constexpr (!StageRow<Stage>::kSharesParentStage) stageOfKind[StageRow<Stage>::Processing::kKind] = Stage;
}
template <std::size_t... I>
constexpr std::array<int, DPK_COUNT> StagesOfKinds(std::index_sequence<I...>) {
  std::array<int, DPK_COUNT> stageOfKind{};
  (NoteStageOfKind<stages::kFirstStage + static_cast<int>(I)>(stageOfKind), ...);
  return stageOfKind;
}
constexpr std::array<int, DPK_COUNT> kStageOfKind =
    StagesOfKinds(std::make_index_sequence<stages::kLastStage - stages::kFirstStage + 1>{});

}  // namespace

CacheStatistics QZParameterTreeAndDataPool::GetStatistics() const {
  CacheStatistics statistics;
  const RequestCounters& requests = m_dataManager.Requests();
  for (int stage = 0; stage < kStatisticsStageSlots; ++stage) {
    StageStatistics& s = statistics.stages[stage];
    s.ownResults = requests.Get(stage, RequestCounters::kOwn);
    s.adoptedResults = requests.Get(stage, RequestCounters::kAdopted);
    s.createdResults = requests.Get(stage, RequestCounters::kCreated);
  }
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    StageStatistics& s = statistics.stages[kStageOfKind[kind]];
    const DP_StageKind stageKind = static_cast<DP_StageKind>(kind);
    s.computations = static_cast<uint64_t>(DP_CommonBase::GetComputationCount(stageKind) -
                                           m_computationBaseline[kind].load(std::memory_order_relaxed));
    s.loads = static_cast<uint64_t>(DP_CommonBase::GetRestoreCount(stageKind) -
                                    m_restoreBaseline[kind].load(std::memory_order_relaxed));
    s.computeNanoseconds = static_cast<uint64_t>(DP_CommonBase::GetComputeNanoseconds(stageKind) -
                                                 m_nanosecondBaseline[kind].load(std::memory_order_relaxed));
  }
  statistics.tableEntries = m_dataManager.GetDataMapSize();
  statistics.liveResultBytes = DP_CommonBase::GetLiveResultBytes();
  if (const std::shared_ptr<ResultStore> store = m_dataManager.GetResultStore()) {
    statistics.storeInstalled = true;
    statistics.store = store->Statistics();
  }
  return statistics;
}

void QZParameterTreeAndDataPool::ResetStatistics() {
  m_dataManager.Requests().Reset();
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    const DP_StageKind stageKind = static_cast<DP_StageKind>(kind);
    m_computationBaseline[kind].store(DP_CommonBase::GetComputationCount(stageKind), std::memory_order_relaxed);
    m_restoreBaseline[kind].store(DP_CommonBase::GetRestoreCount(stageKind), std::memory_order_relaxed);
    m_nanosecondBaseline[kind].store(DP_CommonBase::GetComputeNanoseconds(stageKind), std::memory_order_relaxed);
  }
}

}  // namespace orvex
