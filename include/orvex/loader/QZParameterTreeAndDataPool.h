// The process-wide pool of results: the table of shared results and the tree loader.
//
// The library's own pool lives from library load to process exit; a host may install a
// pool of its own with SetInstance before it uses the library from several threads.
// GetInstance and SetInstance are not synchronised; the members guard themselves.
#ifndef ORVEX_LOADER_QZPARAMETERTREEANDDATAPOOL_H
#define ORVEX_LOADER_QZPARAMETERTREEANDDATAPOOL_H

#include <orvex/Export.h>
#include <orvex/loader/CacheStatistics.h>
#include <orvex/loader/QZParameterTreeLoader.h>
#include <orvex/paramtree/DataUnitManager.h>

namespace orvex {

class ORVEX_EXPORT QZParameterTreeAndDataPool {
 public:
  // The pool in use.
  static QZParameterTreeAndDataPool* GetInstance();
  // Makes `pool` the pool in use unless it is null; returns the pool in use.
  static QZParameterTreeAndDataPool* SetInstance(QZParameterTreeAndDataPool* pool);

  DataUnitManager* GetDataManager() { return &m_dataManager; }
  QZParameterTreeLoader* GetTreeLoader() { return &m_treeLoader; }

  // What the cache did since the process started or the last reset (requests by outcome
  // and computations, per stage), with this pool's table size and the pixel bytes live
  // results hold now. Thread-safe; approximate while other threads work.
  CacheStatistics GetStatistics();
  // Starts the request and computation counts afresh. Thread-safe.
  void ResetStatistics();

 private:
  QZParameterTreeAndDataPool() = default;
  ~QZParameterTreeAndDataPool() = default;
  QZParameterTreeAndDataPool(const QZParameterTreeAndDataPool&) = delete;
  QZParameterTreeAndDataPool& operator=(const QZParameterTreeAndDataPool&) = delete;

  // Destroyed in reverse order: the loader (groups, then trees) before the table.
  DataUnitManager m_dataManager;
  QZParameterTreeLoader m_treeLoader;

  static QZParameterTreeAndDataPool m_instance;
  static QZParameterTreeAndDataPool* m_instancePtr;
};

// The same as QZParameterTreeAndDataPool::SetInstance.
ORVEX_EXPORT QZParameterTreeAndDataPool* InitParamTreeAndDataPool(QZParameterTreeAndDataPool* pool);

}  // namespace orvex

#endif
