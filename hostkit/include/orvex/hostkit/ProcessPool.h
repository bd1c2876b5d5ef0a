// The pool of results in use in the process, as hosts use it: the result store beneath its
// table, and what its cache did. Hosts go through these functions rather than the pool
// itself, so that every host installs a store and reads the figures the same way.
//
// Threads: every function may be called from any thread; each reaches the pool in use at
// the time of the call (QZParameterTreeAndDataPool::GetInstance).
#ifndef ORVEX_HOSTKIT_PROCESSPOOL_H
#define ORVEX_HOSTKIT_PROCESSPOOL_H

#include <orvex/datawrap/ResultStore.h>
#include <orvex/foundation/Export.h>
#include <orvex/loader/CacheStatistics.h>

#include <memory>

namespace orvex {
namespace hostkit {

// Installs `store` beneath the pool's table of results (null: none). Install it before
// making the SetGroups that are to use it: trees registered afterwards look results up in
// the store before computing them, and keep what they compute there.
ORVEX_EXPORT void InstallResultStore(std::shared_ptr<ResultStore> store);

// What the pool's cache did since the pool was made or ResetPoolStatistics: per stage
// (indexed by stage number) the requests by outcome, the computations, the loads from the
// store and their time; the results in the table and their pixel bytes now; and, with a
// store installed, the store's own figures. Approximate while other threads work.
ORVEX_EXPORT CacheStatistics PoolStatistics();

// Starts the pool's request, computation and load counts afresh; the table and the store
// are left as they are.
ORVEX_EXPORT void ResetPoolStatistics();

}  // namespace hostkit
}  // namespace orvex

#endif
