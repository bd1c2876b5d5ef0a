// The process-wide pool of results: the table of shared results, the tree loader whose
// trees share their results through that table, and the statistics of both.
//
// The library's own pool lives from library load to process exit; a host may install a
// pool of its own with SetInstance (trees made afterwards use its table). GetInstance
// and SetInstance are thread-safe; the members guard themselves.
#ifndef ORVEX_LOADER_QZPARAMETERTREEANDDATAPOOL_H
#define ORVEX_LOADER_QZPARAMETERTREEANDDATAPOOL_H

#include <orvex/foundation/Export.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/loader/CacheStatistics.h>
#include <orvex/loader/QZParameterTreeLoader.h>
#include <orvex/paramtree/DataUnitManager.h>

#include <atomic>
#include <cstdint>

namespace orvex {

class ORVEX_EXPORT QZParameterTreeAndDataPool {
 public:
  // The pool in use.
  static QZParameterTreeAndDataPool* GetInstance();
  // Makes `pool` the pool in use unless it is null; returns the pool in use.
  static QZParameterTreeAndDataPool* SetInstance(QZParameterTreeAndDataPool* pool);

  DataUnitManager* GetDataManager() { return &m_dataManager; }
  QZParameterTreeLoader* GetTreeLoader() { return &m_treeLoader; }

  // What the cache did since the pool was made or its statistics were last reset: the
  // requests its table served by outcome, and the computations of the processing stages
  // (those are counted for the whole process: stage objects do not know their pool),
  // with its table's size and the pixel bytes live results hold now. Thread-safe;
  // approximate while other threads work.
  CacheStatistics GetStatistics() const;
  // Installs a store beneath the pool's table of results (null: none); install it before
  // registering groups. See ResultStore.h. Thread-safe.
  void SetResultStore(std::shared_ptr<ResultStore> store) { m_dataManager.SetResultStore(std::move(store)); }
  // Starts the pool's request and computation counts afresh. Thread-safe.
  void ResetStatistics();

 private:
  QZParameterTreeAndDataPool();
  ~QZParameterTreeAndDataPool() = default;
  QZParameterTreeAndDataPool(const QZParameterTreeAndDataPool&) = delete;
  QZParameterTreeAndDataPool& operator=(const QZParameterTreeAndDataPool&) = delete;

  // Destroyed in reverse order: the loader (groups, then trees) before the table.
  DataUnitManager m_dataManager;
  QZParameterTreeLoader m_treeLoader;
  // The processing stages' counters at the last reset; they themselves only ever grow.
  std::atomic<int64_t> m_computationBaseline[DPK_COUNT] = {};
  std::atomic<int64_t> m_restoreBaseline[DPK_COUNT] = {};
  std::atomic<int64_t> m_nanosecondBaseline[DPK_COUNT] = {};

  static QZParameterTreeAndDataPool m_instance;
  static std::atomic<QZParameterTreeAndDataPool*> m_instancePtr;
};

// The same as QZParameterTreeAndDataPool::SetInstance.
ORVEX_EXPORT QZParameterTreeAndDataPool* InitParamTreeAndDataPool(QZParameterTreeAndDataPool* pool);

}  // namespace orvex

#endif
