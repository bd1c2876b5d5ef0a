// The pool of results in use in the process, as hosts use it.
#include <orvex/hostkit/ProcessPool.h>

#include <orvex/loader/QZParameterTreeAndDataPool.h>

#include <utility>

namespace orvex {
namespace hostkit {

void InstallResultStore(std::shared_ptr<ResultStore> store) {
  QZParameterTreeAndDataPool::GetInstance()->SetResultStore(std::move(store));
}

CacheStatistics PoolStatistics() { return QZParameterTreeAndDataPool::GetInstance()->GetStatistics(); }

void ResetPoolStatistics() { QZParameterTreeAndDataPool::GetInstance()->ResetStatistics(); }

}  // namespace hostkit
}  // namespace orvex
