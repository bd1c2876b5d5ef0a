// Process-wide counters of how result requests were answered, by stage.
#ifndef ORVEX_SRC_PARAMTREE_REQUESTCOUNTERS_H
#define ORVEX_SRC_PARAMTREE_REQUESTCOUNTERS_H

#include <orvex/loader/CacheStatistics.h>
#include <orvex/tav/Enums.h>

#include <atomic>

namespace orvex {
namespace requests {

enum Outcome { kOwn, kAdopted, kCreated, kOutcomeCount };

extern std::atomic<uint64_t> g_counts[kStatisticsStageSlots][kOutcomeCount];

// A relaxed load and store rather than a locked add: the request path stays as fast as
// without statistics, at the price that two threads counting the same stage and outcome
// at the same instant may count once.
inline void Count(tav::DataUnitStageType stage, Outcome outcome) {
  const int slot = static_cast<int>(stage);
  if (slot <= 0 || slot >= kStatisticsStageSlots) return;
  std::atomic<uint64_t>& counter = g_counts[slot][outcome];
  counter.store(counter.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

}  // namespace requests
}  // namespace orvex

#endif
