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
  TableFieldsOf(result);
  if (result->ownerTable.load(std::memory_order_acquire) == this && result->tableEntries > 0) {
    // Held under one more key: every purge looks at each of its keys. Both keys are in
    // the set before anything else changes.
    std::set<std::string>::iterator firstKey;
    bool firstInserted = false;
    if (result->tableKey != nullptr) std::tie(firstKey, firstInserted) = m_multiKeys.insert(*result->tableKey);
    try {
      m_multiKeys.insert(entry->first);
    } catch (...) {
      if (firstInserted) m_multiKeys.erase(firstKey);
      throw;
    }
    if (result->tableKey != nullptr) {
      UnlistUnheld(result);
      result->tableKey = nullptr;
    }
    ++result->tableEntries;
    return;
  }
  DataUnitManager* owner = nullptr;
  if (!result->ownerTable.compare_exchange_strong(owner, this, std::memory_order_acq_rel) && owner != this) {
    // Another table owns the result and keeps its bookkeeping: this one looks at the
    // entry in every purge.
    m_foreignKeys.insert(entry->first);
    return;
  }
  result->tableEntries = 1;
  result->tableKey = &entry->first;
  if (!nodeWillHold && result->nodeHolders.load(std::memory_order_acquire) == 0) ListUnheld(result);
}

void DataUnitManager::Leave(Map::iterator entry) { LeaveOf(entry->second.get(), entry->first); }

void DataUnitManager::LeaveOf(DW_Base* result, const std::string& key) {
  if (result == nullptr) return;
  if (m_foreignKeys.erase(key) != 0) return;
  TableFieldsOf(result);
  if (result->tableKey == &key) {
    UnlistUnheld(result);
    result->tableKey = nullptr;
  } else {
    m_multiKeys.erase(key);
  }
  if (--result->tableEntries == 0) result->ownerTable.store(nullptr, std::memory_order_release);
}

DataUnitManager::Map::iterator DataUnitManager::Put(std::string_view id, const QZRef<DW_Base>& value, bool nodeWillHold,
                                                    QZRef<DW_Base>* replaced) {
  Map::iterator entry = FindEntry(id);
  if (entry == m_totalDataMap.end()) {
    entry = m_totalDataMap.emplace(std::string(id), value).first;
    try {
      Enter(entry, nodeWillHold);
    } catch (...) {
      m_totalDataMap.erase(entry);  // the caller still holds `value`: nothing is freed here
      throw;
    }
    return entry;
  }
  Leave(entry);
  *replaced = std::move(entry->second);
  entry->second = value;
  try {
    Enter(entry, nodeWillHold);
  } catch (...) {
    // The old result takes its place again; should that fail too, the entry goes.
    entry->second = *replaced;
    try {
      Enter(entry, false);
    } catch (...) {
      m_totalDataMap.erase(entry);
    }
    throw;
  }
  return entry;
}

void DataUnitManager::ListUnheld(DW_Base* result) {
  TableFieldsOf(result);
  if (result->unheldListed) return;
  result->unheldListed = true;
  result->unheldPrevious = nullptr;
  result->unheldNext = m_unheld;
  if (DW_Base* first = m_unheld) {
    TableFieldsOf(first);
    first->unheldPrevious = result;
  }
  m_unheld = result;
}

void DataUnitManager::UnlistUnheld(DW_Base* result) {
  TableFieldsOf(result);
  if (!result->unheldListed) return;
  if (DW_Base* previous = result->unheldPrevious) {
    TableFieldsOf(previous);
    previous->unheldNext = result->unheldNext;
  } else {
    m_unheld = result->unheldNext;
  }
  if (DW_Base* next = result->unheldNext) {
    TableFieldsOf(next);
    next->unheldPrevious = result->unheldPrevious;
  }
  result->unheldPrevious = result->unheldNext = nullptr;
  result->unheldListed = false;
}

bool DataUnitManager::EraseIfSole(Map::iterator entry, QZGraveyard& erased) {
  DW_Base* result = entry->second.get();
  // The claimed result is destroyed only with the graveyard, after the lock.
  if (!entry->second.ClaimIfSole(erased)) return false;
  LeaveOf(result, entry->first);
  m_totalDataMap.erase(entry);
  return true;
}

void DataUnitManager::NoteResultWithoutNodeHolder(DW_Base* result) noexcept {
  MutexLock lock(m_mutex);
  ListIfUnheld(result);
}

void DataUnitManager::ListIfUnheld(DW_Base* result) noexcept {
  TableFieldsOf(result);
  if (result->ownerTable.load(std::memory_order_acquire) == this && result->tableKey != nullptr &&
      result->nodeHolders.load(std::memory_order_acquire) == 0) {
    ListUnheld(result);
  }
}

void DataUnitManager::NoteResultsWithoutNodeHolder(const std::vector<QZRef<DW_Base>>& results) noexcept {
  MutexLock lock(m_mutex);
  for (const QZRef<DW_Base>& result : results) ListIfUnheld(result.get());
}

void DataUnitManager::NoteResultsWithoutNodeHolder(
    const std::unordered_map<std::string, QZRef<DW_Base>>& results) noexcept {
  MutexLock lock(m_mutex);
  for (const auto& result : results) ListIfUnheld(result.second.get());
}

void DataUnitManager::AddToTotalDataMap(const std::string& dataHashId, QZRef<DW_Base> data) {
  QZRef<DW_Base> replaced;  // released after the lock, so a replaced result dies outside it
  MutexLock lock(m_mutex);
  Put(dataHashId, data, false, &replaced);
}

bool DataUnitManager::AddToTotalDataMapIfAbsent(const std::string& dataHashId, QZRef<DW_Base> data,
                                                QZRef<DW_Base>* existing) {
  MutexLock lock(m_mutex);
  const Map::iterator found = m_totalDataMap.find(dataHashId);
  if (found != m_totalDataMap.end()) {
    if (existing != nullptr) *existing = found->second;
    return false;
  }
  Put(dataHashId, data, false, nullptr);
  return true;
}

bool DataUnitManager::GetFromTotalDataMap(const std::string& dataHashId, QZRef<DW_Base>& out) {
  return FindInTotalDataMap(dataHashId, out);
}

bool DataUnitManager::FindInTotalDataMap(std::string_view dataHashId, QZRef<DW_Base>& out) {
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
  for (DW_Base* result = m_unheld; result != nullptr;) {
    TableFieldsOf(result);
    DW_Base* next = result->unheldNext;
    if (result->nodeHolders.load(std::memory_order_acquire) > 0) {
      UnlistUnheld(result);  // a node took it up again; its last node lists it anew
    } else if (EraseIfSole(m_totalDataMap.find(*result->tableKey), erased)) {
      any = true;
    }
    result = next;
  }
  // Erasing an entry takes its key out of its set: step past it first.
  for (std::set<std::string>* keys : {&m_multiKeys, &m_foreignKeys}) {
    for (auto key = keys->begin(); key != keys->end();) {
      const auto found = m_totalDataMap.find(*key++);
      if (found != m_totalDataMap.end() && EraseIfSole(found, erased)) any = true;
    }
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
