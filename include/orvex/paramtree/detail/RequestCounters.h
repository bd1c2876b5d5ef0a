// How the requests for results a table of results serves were answered, by stage.
//
// Thread-safe and exact: every request is counted once, whatever the threads, so a host
// working on several threads reads the same figures as one working on one.
//
// Inner workings, installed only because DataUnitManager.h and CacheStatistics.h holds or uses it: not part of the
// interface hosts program against, and free to change.
#ifndef ORVEX_PARAMTREE_DETAIL_REQUESTCOUNTERS_H
#define ORVEX_PARAMTREE_DETAIL_REQUESTCOUNTERS_H

#include <orvex/tav/Enums.h>

#include <atomic>
#include <cstdint>

namespace orvex {

class RequestCounters {
 public:
  enum Outcome {
    kOwn,      // answered from the node's own store
    kAdopted,  // answered by adopting a result from the table
    kCreated,  // answered with a new result
    kOutcomeCount
  };
  // Stage numbers 1 to 23 have counters; 0 and the reserved 24 to 28 are never counted.
  static constexpr int kStageSlots = 29;

  void Count(tav::DataUnitStageType stage, Outcome outcome) {
    const int slot = static_cast<int>(stage);
    if (slot <= 0 || slot >= kStageSlots) return;
    m_counts[slot][outcome].fetch_add(1, std::memory_order_relaxed);
  }
  uint64_t Get(int stage, Outcome outcome) const {
    return stage > 0 && stage < kStageSlots ? m_counts[stage][outcome].load(std::memory_order_relaxed) : 0;
  }
  void Reset() {
    for (auto& stage : m_counts)
      for (auto& count : stage) count.store(0, std::memory_order_relaxed);
  }

 private:
  std::atomic<uint64_t> m_counts[kStageSlots][kOutcomeCount] = {};
};

}  // namespace orvex

#endif
