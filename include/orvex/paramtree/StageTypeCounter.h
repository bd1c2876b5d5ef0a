// Per-source counters of the stages whose results requesters still need.
//
// Threads: every operation takes the counter's own mutex.
#ifndef ORVEX_PARAMTREE_STAGETYPECOUNTER_H
#define ORVEX_PARAMTREE_STAGETYPECOUNTER_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/tav/Enums.h>

#include <map>
#include <mutex>

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
  // m_countMutex guards m_typeCounts; an unordered leaf: nothing is taken while it is held.
  mutable std::mutex m_countMutex;
  // An entry exists only while its count is at least 1.
  std::map<tav::DataUnitStageType, int> m_typeCounts ORVEX_GUARDED_BY(m_countMutex);
};

}  // namespace orvex

#endif
