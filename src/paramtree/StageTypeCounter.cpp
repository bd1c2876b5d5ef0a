#include <orvex/paramtree/detail/StageTypeCounter.h>

namespace orvex {

StageRequestMap RequestEveryStage() {
  StageRequestMap every;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    every[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  return every;
}

StageTypeCounter::StageTypeCounter(const StageTypeCounter& other) {
  MutexLock lock(other.m_countMutex);
  m_typeCounts = other.m_typeCounts;
}

StageTypeCounter& StageTypeCounter::operator=(const StageTypeCounter& other) {
  if (this == &other) return *this;
  std::map<tav::DataUnitStageType, int> counts;
  {
    MutexLock lock(other.m_countMutex);
    counts = other.m_typeCounts;
  }
  MutexLock lock(m_countMutex);
  m_typeCounts.swap(counts);
  return *this;
}

void StageTypeCounter::UpdateCounter(const StageRequestMap& request) {
  MutexLock lock(m_countMutex);
  // Counted in a copy that replaces the counts only once complete: all or nothing.
  std::map<tav::DataUnitStageType, int> counts = m_typeCounts;
  for (const auto& entry : request) {
    if (entry.second == 1) ++counts[entry.first];
  }
  m_typeCounts.swap(counts);
}

void StageTypeCounter::MinusCounter(const StageRequestMap& request) {
  MutexLock lock(m_countMutex);
  for (const auto& entry : request) {
    if (entry.second != 1) continue;
    auto found = m_typeCounts.find(entry.first);
    if (found == m_typeCounts.end()) continue;
    if (found->second > 1) --found->second;
    else m_typeCounts.erase(found);
  }
}

bool StageTypeCounter::IsTypeNeedSave(tav::DataUnitStageType stage) const {
  MutexLock lock(m_countMutex);
  auto found = m_typeCounts.find(stage);
  return found != m_typeCounts.end() && found->second > 0;
}

bool StageTypeCounter::IsEmpty() const {
  MutexLock lock(m_countMutex);
  return m_typeCounts.empty();
}

void SourceStageCounters::Plus(const std::string& sourceHash, const StageRequestMap& request) {
  if (request.empty()) return;
  MutexLock lock(m_mutex);
  const auto entry = m_counters.try_emplace(sourceHash);
  try {
    entry.first->second.UpdateCounter(request);
  } catch (...) {
    if (entry.second) m_counters.erase(entry.first);
    throw;
  }
}

void SourceStageCounters::Minus(const std::string& sourceHash, const StageRequestMap& request) {
  MutexLock lock(m_mutex);
  const auto found = m_counters.find(sourceHash);
  if (found == m_counters.end()) return;
  found->second.MinusCounter(request);
  if (found->second.IsEmpty()) m_counters.erase(found);
}

bool SourceStageCounters::Has(const std::string& sourceHash) const {
  MutexLock lock(m_mutex);
  return m_counters.count(sourceHash) != 0;
}

}  // namespace orvex
