#include <orvex/paramtree/detail/NodeResults.h>

#include <orvex/paramtree/DataUnitManager.h>

#include <algorithm>

namespace orvex {

void DroppedResults::Release() noexcept {
  if (m_results.empty()) return;
  if (m_table != nullptr) m_table->NoteResultsWithoutNodeHolder(m_results);
  std::vector<QZRef<DW_Base>> results;
  results.swap(m_results);
}

NodeResults::~NodeResults() {
  // Nothing should be left: the owning node empties the store, telling its table.
  if (!m_entries) return;
  for (auto& entry : m_entries->byKey) entry.second->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
  for (auto& source : m_entries->chainHoldsBySource)
    for (QZRef<DW_Base>& held : source.second) held->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
}

bool NodeResults::HoldsForChain(const DW_Base& result) const {
  if (!m_entries) return false;
  const auto source = m_entries->chainHoldsBySource.find(result.SourceHashIdText());
  if (source == m_entries->chainHoldsBySource.end()) return false;
  for (const QZRef<DW_Base>& held : source->second)
    if (held.get() == &result) return true;
  return false;
}

void NodeResults::InsertChainHold(const QZRef<DW_Base>& result) {
  if (!m_entries) m_entries.reset(new Entries);
  auto list = m_entries->chainHoldsBySource.try_emplace(result->SourceHashIdText());
  try {
    list.first->second.push_back(result);
  } catch (...) {
    if (list.second) m_entries->chainHoldsBySource.erase(list.first);
    throw;
  }
  result->nodeHolders.fetch_add(1, std::memory_order_acq_rel);
}

const QZRef<DW_Base>* NodeResults::Find(const std::string& key) const {
  if (!m_entries) return nullptr;
  const auto found = m_entries->byKey.find(key);
  return found != m_entries->byKey.end() ? &found->second : nullptr;
}

void NodeResults::Insert(const std::string& key, const QZRef<DW_Base>& result) {
  if (!m_entries) m_entries.reset(new Entries);
  const std::string& source = result->SourceHashIdText();
  // The index by source gets its room before the result is entered, so that a failed
  // allocation never leaves a result that no release of its source would find.
  std::vector<const std::string*>* otherKeys = nullptr;
  bool newList = false;
  if (key != source) {
    auto list = m_entries->otherKeysBySource.try_emplace(source);
    otherKeys = &list.first->second;
    newList = list.second;
    try {
      otherKeys->reserve(otherKeys->size() + 1);
    } catch (...) {
      if (newList) m_entries->otherKeysBySource.erase(list.first);
      throw;
    }
  }
  std::unordered_map<std::string, QZRef<DW_Base>>::iterator entry;
  try {
    entry = m_entries->byKey.emplace(key, result).first;
  } catch (...) {
    if (newList) m_entries->otherKeysBySource.erase(source);
    throw;
  }
  result->nodeHolders.fetch_add(1, std::memory_order_acq_rel);
  if (otherKeys != nullptr) otherKeys->push_back(&entry->first);
  else ++m_entries->keyedBySource;
}

void NodeResults::Take(std::unordered_map<std::string, QZRef<DW_Base>>::iterator entry,
                           DroppedResults& dropped) noexcept {
  entry->second->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
  dropped.Add(entry->second);
  m_entries->byKey.erase(entry);  // the count `dropped` took keeps the result alive
}

void NodeResults::TakeSource(const std::string& sourceImageHashId, DroppedResults& dropped) {
  if (sourceImageHashId.empty() || !m_entries) return;
  const auto others = m_entries->otherKeysBySource.find(sourceImageHashId);
  const auto chain = m_entries->chainHoldsBySource.find(sourceImageHashId);
  // Room for every result taken, before the first is taken.
  dropped.Reserve(1 + (others != m_entries->otherKeysBySource.end() ? others->second.size() : 0) +
                  (chain != m_entries->chainHoldsBySource.end() ? chain->second.size() : 0));
  if (chain != m_entries->chainHoldsBySource.end()) {
    for (QZRef<DW_Base>& held : chain->second) {
      held->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
      dropped.Add(held);
    }
    m_entries->chainHoldsBySource.erase(chain);
  }
  if (m_entries->keyedBySource > 0) {
    const auto own = m_entries->byKey.find(sourceImageHashId);
    if (own != m_entries->byKey.end() && own->second->SourceHashIdText() == sourceImageHashId) {
      Take(own, dropped);
      --m_entries->keyedBySource;
    }
  }
  if (others == m_entries->otherKeysBySource.end()) return;
  for (const std::string* key : others->second) Take(m_entries->byKey.find(*key), dropped);
  m_entries->otherKeysBySource.erase(others);
}

void NodeResults::LetGoOfAll(DataUnitManager* table) noexcept {
  if (!m_entries) return;
  for (auto& entry : m_entries->byKey) entry.second->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
  for (auto& source : m_entries->chainHoldsBySource)
    for (QZRef<DW_Base>& held : source.second) held->nodeHolders.fetch_sub(1, std::memory_order_acq_rel);
  if (table != nullptr) {
    table->NoteResultsWithoutNodeHolder(m_entries->byKey);
    for (const auto& source : m_entries->chainHoldsBySource) table->NoteResultsWithoutNodeHolder(source.second);
  }
  m_entries.reset();
}

std::vector<DW_Base*> NodeResults::ResultsOfSource(const std::string& sourceImageHashId) const {
  std::vector<std::pair<const std::string*, DW_Base*>> found;
  if (!m_entries) return std::vector<DW_Base*>();
  if (m_entries->keyedBySource > 0) {
    const auto own = m_entries->byKey.find(sourceImageHashId);
    if (own != m_entries->byKey.end() && own->second->SourceHashIdText() == sourceImageHashId) {
      found.emplace_back(&own->first, own->second.get());
    }
  }
  const auto others = m_entries->otherKeysBySource.find(sourceImageHashId);
  if (others != m_entries->otherKeysBySource.end()) {
    for (const std::string* key : others->second) found.emplace_back(key, m_entries->byKey.find(*key)->second.get());
  }
  std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return *a.first < *b.first; });
  std::vector<DW_Base*> results;
  results.reserve(found.size());
  for (const auto& entry : found) results.push_back(entry.second);
  return results;
}

}  // namespace orvex
