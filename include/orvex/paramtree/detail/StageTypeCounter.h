// Per-source counters of the stages whose results requesters still need.
//
// Threads: every operation takes the counter's own mutex.
//
// Inner workings, installed only because DataUnitManager.h holds or uses it: not part of the
// interface hosts program against, and free to change.
#ifndef ORVEX_PARAMTREE_DETAIL_STAGETYPECOUNTER_H
#define ORVEX_PARAMTREE_DETAIL_STAGETYPECOUNTER_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/tav/Enums.h>

#include <orvex/foundation/Mutex.h>

#include <map>
#include <string>

namespace orvex {

// A host's request for one source image: an entry with the value 1 asks that the results
// of that stage stay in their nodes; entries with other values are ignored.
typedef std::map<tav::DataUnitStageType, int> StageRequestMap;

// A request that keeps the results of every stage, 1 to 23.
ORVEX_EXPORT StageRequestMap RequestEveryStage();

class ORVEX_EXPORT StageTypeCounter {
 public:
  StageTypeCounter() = default;
  StageTypeCounter(const StageTypeCounter& other);
  StageTypeCounter& operator=(const StageTypeCounter& other);

  // Adds one request for every stage marked 1.
  void UpdateCounter(const StageRequestMap& request);
  // Withdraws one request for every stage marked 1 that has requests; a stage whose last
  // request goes loses its entry.
  void MinusCounter(const StageRequestMap& request);
  // Whether some requester still needs the stage's results.
  bool IsTypeNeedSave(tav::DataUnitStageType stage) const;
  bool IsEmpty() const;

 private:
  // m_countMutex guards m_typeCounts; a leaf.
  mutable Mutex m_countMutex;
  // An entry exists only while its count is at least 1.
  friend class SourceStageCounters;  // orders its own mutex before m_countMutex
  std::map<tav::DataUnitStageType, int> m_typeCounts ORVEX_GUARDED_BY(m_countMutex);
};

// The counters of every source image of one tree. The tree keeps them, so every group
// over the tree counts with the same ones: a release through one group never drops what
// another group over the same tree still counts.
//
// Threads: every operation takes m_mutex, which orders the drop of an image's results
// (WithCounterOf) against the counter changes for it.
class ORVEX_EXPORT SourceStageCounters {
 public:
  SourceStageCounters() = default;
  SourceStageCounters(const SourceStageCounters&) = delete;
  SourceStageCounters& operator=(const SourceStageCounters&) = delete;

  // Adds one request for the image; an empty request adds no entry. All or nothing when
  // memory runs out.
  void Plus(const std::string& sourceHash, const StageRequestMap& request);
  // Withdraws one request; the entry goes with its last count.
  void Minus(const std::string& sourceHash, const StageRequestMap& request);
  bool Has(const std::string& sourceHash) const;
  // Runs `work` with the image's counter (null when it has none) under the mutex.
  template <class Work>
  void WithCounterOf(const std::string& sourceHash, Work work) const {
    MutexLock lock(m_mutex);
    const auto found = m_counters.find(sourceHash);
    work(found != m_counters.end() ? &found->second : nullptr);
  }

 private:
  mutable Mutex m_mutex ORVEX_ACQUIRED_BEFORE(StageTypeCounter::m_countMutex);
  std::map<std::string, StageTypeCounter> m_counters ORVEX_GUARDED_BY(m_mutex);
};

}  // namespace orvex

#endif
