#include <orvex/paramtree/DataUnitManager.h>

#include "foundation/SoleHolderPurge.h"

namespace orvex {

std::mutex DataUnitManager::m_mutex;

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

void DataUnitManager::AddToTotalDataMap(const std::string& dataHashId, QZRef<DW_Base> data) {
  QZRef<DW_Base> replaced;  // released after the lock, so a replaced result dies outside it
  std::lock_guard<std::mutex> lock(m_mutex);
  QZRef<DW_Base>& slot = m_totalDataMap[dataHashId];
  replaced = std::move(slot);
  slot = std::move(data);
}

bool DataUnitManager::AddToTotalDataMapIfAbsent(const std::string& dataHashId, QZRef<DW_Base> data,
                                                QZRef<DW_Base>* existing) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto entry = m_totalDataMap.try_emplace(dataHashId, std::move(data));
  if (!entry.second && existing != nullptr) *existing = entry.first->second;
  return entry.second;
}

bool DataUnitManager::GetFromTotalDataMap(const std::string& dataHashId, QZRef<DW_Base>& out) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_totalDataMap.find(dataHashId);
  if (found == m_totalDataMap.end()) return false;
  out = found->second;
  return true;
}

bool DataUnitManager::UpdateDataInTotalDataMap(const std::string& dataHashId) {
  if (dataHashId.empty()) return false;
  QZGraveyard erased;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_totalDataMap.find(dataHashId);
  if (found == m_totalDataMap.end() || !found->second.ClaimIfSole(erased)) return false;
  m_totalDataMap.erase(found);
  return true;
}

bool DataUnitManager::UpdateTotalDataMap() {
  QZGraveyard erased;  // destroyed after the lock
  std::lock_guard<std::mutex> lock(m_mutex);
  return ClaimEntriesHeldOnlyByMap(m_totalDataMap, erased);
}

void DataUnitManager::UpdateTotalDataMapUntilSettled() {
  while (UpdateTotalDataMap()) {
  }
}

int DataUnitManager::GetDataMapSize() {
  std::lock_guard<std::mutex> lock(m_mutex);
  return static_cast<int>(m_totalDataMap.size());
}

}  // namespace orvex
