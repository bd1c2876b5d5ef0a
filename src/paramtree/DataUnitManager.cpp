#include <orvex/paramtree/DataUnitManager.h>

namespace orvex {

DataUnitManager::~DataUnitManager() {
  Map entries;  // released after the lock
  MutexLock lock(m_mutex);
  for (Map::iterator entry = m_totalDataMap.begin(); entry != m_totalDataMap.end(); ++entry) Leave(entry);
  entries.swap(m_totalDataMap);
}

DataUnitManager::Map::iterator DataUnitManager::FindEntry(std::string_view id) {
  m_probe.assign(id.data(), id.size());
  return m_totalDataMap.find(m_probe);
}

void DataUnitManager::Enter(Map::iterator entry, bool nodeWillHold) {
  DW_Base* result = entry->second.get();
  if (result == nullptr) return;
  DataUnitManager* owner = nullptr;
  if (!result->m_table.compare_exchange_strong(owner, this, std::memory_order_acq_rel) && owner != this) {
    // Another table owns the result and keeps its bookkeeping: this one looks at the
    // entry in every purge.
    m_foreignKeys.insert(entry->first);
    return;
  }
  if (++result->m_tableEntries == 1) {
    result->m_tableKey = &entry->first;
    if (!nodeWillHold && result->m_nodeHolders.load(std::memory_order_acquire) == 0) ListUnheld(result);
    return;
  }
  // Held under several keys: every purge looks at each of them.
  if (result->m_tableKey != nullptr) {
    m_multiKeys.insert(*result->m_tableKey);
    UnlistUnheld(result);
    result->m_tableKey = nullptr;
  }
  m_multiKeys.insert(entry->first);
}

void DataUnitManager::Leave(Map::iterator entry) { LeaveOf(entry->second.get(), entry->first); }

void DataUnitManager::LeaveOf(DW_Base* result, const std::string& key) {
  if (result == nullptr) return;
  if (m_foreignKeys.erase(key) != 0) return;
  if (result->m_tableKey == &key) {
    UnlistUnheld(result);
    result->m_tableKey = nullptr;
  } else {
    m_multiKeys.erase(key);
  }
  if (--result->m_tableEntries == 0) result->m_table.store(nullptr, std::memory_order_release);
}

void DataUnitManager::ListUnheld(DW_Base* result) {
  if (result->m_unheldSlot >= 0) return;
  result->m_unheldSlot = static_cast<int>(m_unheld.size());
  m_unheld.push_back(result);
}

void DataUnitManager::UnlistUnheld(DW_Base* result) {
  const int slot = result->m_unheldSlot;
  if (slot < 0) return;
  m_unheld[slot] = m_unheld.back();
  m_unheld[slot]->m_unheldSlot = slot;
  m_unheld.pop_back();
  result->m_unheldSlot = -1;
}

bool DataUnitManager::EraseIfSole(Map::iterator entry, QZGraveyard& erased) {
  DW_Base* result = entry->second.get();
  // The claimed result is destroyed only with the graveyard, after the lock.
  if (!entry->second.ClaimIfSole(erased)) return false;
  LeaveOf(result, entry->first);
  m_totalDataMap.erase(entry);
  return true;
}

void DataUnitManager::NoteResultsWithoutNodeHolder(const std::vector<QZRef<DW_Base>>& results) {
  MutexLock lock(m_mutex);
  for (const QZRef<DW_Base>& result : results) {
    DW_Base* wrap = result.get();
    if (wrap->m_table.load(std::memory_order_acquire) == this && wrap->m_tableKey != nullptr &&
        wrap->m_nodeHolders.load(std::memory_order_acquire) == 0) {
      ListUnheld(wrap);
    }
  }
}

void DataUnitManager::AddToTotalDataMap(const std::string& dataHashId, QZRef<DW_Base> data) {
  QZRef<DW_Base> replaced;  // released after the lock, so a replaced result dies outside it
  MutexLock lock(m_mutex);
  Map::iterator entry = m_totalDataMap.find(dataHashId);
  if (entry == m_totalDataMap.end()) {
    entry = m_totalDataMap.emplace(dataHashId, std::move(data)).first;
  } else {
    Leave(entry);
    replaced = std::move(entry->second);
    entry->second = std::move(data);
  }
  Enter(entry, false);
}

bool DataUnitManager::AddToTotalDataMapIfAbsent(const std::string& dataHashId, QZRef<DW_Base> data,
                                                QZRef<DW_Base>* existing) {
  MutexLock lock(m_mutex);
  const auto entry = m_totalDataMap.try_emplace(dataHashId, std::move(data));
  if (!entry.second) {
    if (existing != nullptr) *existing = entry.first->second;
    return false;
  }
  Enter(entry.first, false);
  return true;
}

bool DataUnitManager::GetFromTotalDataMap(std::string_view dataHashId, QZRef<DW_Base>& out) {
  MutexLock lock(m_mutex);
  auto found = FindEntry(dataHashId);
  if (found == m_totalDataMap.end()) return false;
  out = found->second;
  return true;
}

bool DataUnitManager::UpdateDataInTotalDataMap(const std::string& dataHashId) {
  if (dataHashId.empty()) return false;
  QZGraveyard erased;  // destroyed after the lock
  MutexLock lock(m_mutex);
  auto found = FindEntry(dataHashId);
  return found != m_totalDataMap.end() && EraseIfSole(found, erased);
}

bool DataUnitManager::UpdateTotalDataMap() {
  QZGraveyard erased;  // destroyed after the lock
  MutexLock lock(m_mutex);
  bool any = false;
  for (size_t i = 0; i < m_unheld.size();) {
    DW_Base* result = m_unheld[i];
    if (result->m_nodeHolders.load(std::memory_order_acquire) > 0) {
      UnlistUnheld(result);  // a node took it up again; its last node lists it anew
      continue;
    }
    if (EraseIfSole(m_totalDataMap.find(*result->m_tableKey), erased)) {
      any = true;  // its slot now holds the list's last entry
      continue;
    }
    ++i;
  }
  std::vector<std::string> multiKeys(m_multiKeys.begin(), m_multiKeys.end());
  multiKeys.insert(multiKeys.end(), m_foreignKeys.begin(), m_foreignKeys.end());
  for (const std::string& key : multiKeys) {
    auto found = m_totalDataMap.find(key);
    if (found != m_totalDataMap.end() && EraseIfSole(found, erased)) any = true;
  }
  return any;
}

void DataUnitManager::UpdateTotalDataMapUntilSettled() {
  while (UpdateTotalDataMap()) {
  }
}

int DataUnitManager::GetDataMapSize() const {
  MutexLock lock(m_mutex);
  return static_cast<int>(m_totalDataMap.size());
}

}  // namespace orvex
