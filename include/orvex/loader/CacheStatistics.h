// What a pool's cache did since the pool was made or its statistics were last reset:
// per stage, how requests for results were answered and how many computations ran.
// Read with QZParameterTreeAndDataPool::GetStatistics. Every request and computation is
// counted exactly, whatever the threads; a snapshot taken while other threads work may
// hold some of their latest counts and not others.
#ifndef ORVEX_LOADER_CACHESTATISTICS_H
#define ORVEX_LOADER_CACHESTATISTICS_H

#include <orvex/datawrap/ResultStore.h>
#include <orvex/paramtree/detail/RequestCounters.h>

#include <cstdint>

namespace orvex {

// Stage numbers 1 to 23 index the per-stage counters; 0 and 24 to 28 stay unused.
constexpr int kStatisticsStageSlots = RequestCounters::kStageSlots;

struct StageStatistics {
  uint64_t ownResults = 0;      // requests answered from the node's own store
  uint64_t adoptedResults = 0;  // requests answered by adopting a result from the shared table
  uint64_t createdResults = 0;  // requests that created a new result
  uint64_t computations = 0;    // stage computations run
  uint64_t loads = 0;           // results taken from the result store instead of computed
  uint64_t computeNanoseconds = 0;
};

struct CacheStatistics {
  StageStatistics stages[kStatisticsStageSlots];
  int tableEntries = 0;             // results in the process-wide table now
  int64_t liveResultBytes = 0;      // approximate pixel bytes held by live results now
  bool storeInstalled = false;      // whether a result store is installed
  StoreStatistics store;            // what it did since it was opened
};

}  // namespace orvex

#endif
