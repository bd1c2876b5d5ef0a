#include <orvex/paramtree/StageTypeCounter.h>

namespace orvex {

StageRequestMap RequestEveryStage() {
  StageRequestMap every;
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    every[static_cast<tav::DataUnitStageType>(stage)] = 1;
  }
  return every;
}

StageTypeCounter::StageTypeCounter(const StageTypeCounter& other) {
  std::lock_guard<std::mutex> lock(other.m_countMutex);
  m_typeCounts = other.m_typeCounts;
}

StageTypeCounter& StageTypeCounter::operator=(const StageTypeCounter& other) {
  if (this == &other) return *this;
  std::map<tav::DataUnitStageType, int> counts;
  {
    std::lock_guard<std::mutex> lock(other.m_countMutex);
    counts = other.m_typeCounts;
  }
  std::lock_guard<std::mutex> lock(m_countMutex);
  m_typeCounts.swap(counts);
  return *this;
}

void StageTypeCounter::UpdateCounter(const StageRequestMap& request) {
  std::lock_guard<std::mutex> lock(m_countMutex);
  for (const auto& entry : request) {
    if (entry.second == 1) ++m_typeCounts[entry.first];
  }
}

void StageTypeCounter::MinusCounter(const StageRequestMap& request) {
  std::lock_guard<std::mutex> lock(m_countMutex);
  for (const auto& entry : request) {
    if (entry.second != 1) continue;
    auto found = m_typeCounts.find(entry.first);
    if (found == m_typeCounts.end()) continue;
    if (found->second > 1) --found->second;
    else m_typeCounts.erase(found);
  }
}

bool StageTypeCounter::IsTypeNeedSave(tav::DataUnitStageType stage) const {
  std::lock_guard<std::mutex> lock(m_countMutex);
  auto found = m_typeCounts.find(stage);
  return found != m_typeCounts.end() && found->second > 0;
}

bool StageTypeCounter::IsEmpty() const {
  std::lock_guard<std::mutex> lock(m_countMutex);
  return m_typeCounts.empty();
}

}  // namespace orvex
