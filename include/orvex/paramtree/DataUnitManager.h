// A table of shared results: results by data hash id, shared by every tree whose nodes
// use the table (the pool's table is the process-wide one), with the counters of how the
// requests for results were answered.
//
// Ownership: the table holds one count of every result it lists; a purge releases the
// results that nobody else holds. A result belongs to the table that listed it first:
// another table that lists it too keeps it among the entries every purge looks at.
// Threads: every table operation takes the table's mutex; the counters are atomics.
#ifndef ORVEX_PARAMTREE_DATAUNITMANAGER_H
#define ORVEX_PARAMTREE_DATAUNITMANAGER_H

#include <orvex/datawrap/DW_Base.h>
#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/paramtree/detail/RequestCounters.h>
#include <orvex/paramtree/detail/StageTypeCounter.h>
#include <orvex/tav/Enums.h>

#include <orvex/foundation/Mutex.h>

#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvex {

// The table of results keeps, beside its entries, the list of the entries that no
// parameter node holds (a node's results count it among each result's holders): only those can be
// held by the table alone, so a purge looks at them and never walks the whole table.
class ORVEX_EXPORT DataUnitManager {
 public:
  DataUnitManager() = default;
  ~DataUnitManager();
  DataUnitManager(const DataUnitManager&) = delete;
  DataUnitManager& operator=(const DataUnitManager&) = delete;

  // Enters `data` under `dataHashId`, replacing (and releasing) an entry of that id.
  void AddToTotalDataMap(const std::string& dataHashId, QZRef<DW_Base> data);
  // Enters `data` unless the id is taken; returns whether it did. When it did not and
  // `existing` is given, the entry under the id goes there (one more count).
  bool AddToTotalDataMapIfAbsent(const std::string& dataHashId, QZRef<DW_Base> data, QZRef<DW_Base>* existing = nullptr);
  // The entry under `dataHashId` in `out` (one more count); false, `out` untouched, when absent.
  bool GetFromTotalDataMap(const std::string& dataHashId, QZRef<DW_Base>& out);
  // The same for an id the caller holds as characters: no string is built for the lookup.
  bool FindInTotalDataMap(std::string_view dataHashId, QZRef<DW_Base>& out);
  // What FindOrAdd lets go of, for the caller to release after its own locks: the result
  // it made (also when entering it failed) and an entry of another stage it replaced.
  struct Leftovers {
    QZRef<DW_Base> made;
    QZRef<DW_Base> displaced;
  };
  // Find-or-register in one step under the table's mutex, for a node that keeps the
  // result it gets: the entry under `dataHashId` when it is a result of `stage`; otherwise
  // what `make()` returns, entered under the id (replacing an entry of another stage)
  // unless it is empty. `make` runs under the mutex, so it must only build a lazy result
  // and take no node or table lock. *created says whether the result is new. A node that
  // then fails to keep a new result calls NoteResultWithoutNodeHolder. All or nothing
  // when memory runs out.
  template <class Make>
  QZRef<DW_Base> FindOrAdd(std::string_view dataHashId, tav::DataUnitStageType stage, Make make, bool* created,
                           Leftovers& leftovers);
  // Erases the entry when only the table holds it; returns whether it did.
  bool UpdateDataInTotalDataMap(const std::string& dataHashId);
  // Erases every entry that only the table holds; returns whether any went. An erased
  // result can no longer be pinned by anyone and is destroyed after the mutex is released.
  // The cost follows the entries no node holds, not the size of the table.
  bool UpdateTotalDataMap();
  // UpdateTotalDataMap until a purge erases nothing: results freed by one purge may leave
  // the results they held (their extra inputs) to the table alone.
  void UpdateTotalDataMapUntilSettled();
  int GetDataMapSize() const;

  // For the nodes' results: of these results, which they still hold, those that no node holds
  // any more become candidates of the next purge. Never throws.
  void NoteResultsWithoutNodeHolder(const std::vector<QZRef<DW_Base>>& results) noexcept;
  void NoteResultsWithoutNodeHolder(const std::unordered_map<std::string, QZRef<DW_Base>>& results) noexcept;
  void NoteResultWithoutNodeHolder(DW_Base* result) noexcept;


  // The store beneath the table (see ResultStore.h), or null: the results its nodes make
  // from now on are looked up there before they are computed, and kept there after.
  // Thread-safe; results made before keep the store they were made with.
  void SetResultStore(std::shared_ptr<ResultStore> store) { std::atomic_store(&m_store, std::move(store)); }
  std::shared_ptr<ResultStore> GetResultStore() const { return std::atomic_load(&m_store); }

  // How the requests of the nodes that share their results through this table were answered.
  RequestCounters& Requests() { return m_requests; }
  const RequestCounters& Requests() const { return m_requests; }

 private:
  typedef std::unordered_map<std::string, QZRef<DW_Base>> Map;
  // The entry under `id`, looked up without building a string.
  Map::iterator FindEntry(std::string_view id) ORVEX_REQUIRES(m_mutex);
  // Bookkeeping when an entry starts to hold its result, and before it lets go of it.
  // Enter changes nothing when it throws (no memory for a key of the sets below).
  void Enter(Map::iterator entry, bool nodeWillHold) ORVEX_REQUIRES(m_mutex);
  // Puts `value` under `id` (a new entry, or replacing the entry's result, whose count
  // goes to *replaced) with its bookkeeping: all or nothing.
  Map::iterator Put(std::string_view id, const QZRef<DW_Base>& value, bool nodeWillHold, QZRef<DW_Base>* replaced)
      ORVEX_REQUIRES(m_mutex);
  void Leave(Map::iterator entry) ORVEX_REQUIRES(m_mutex);
  void LeaveOf(DW_Base* result, const std::string& key) ORVEX_REQUIRES(m_mutex);
  // Lists a result of this table as held by no node, or takes it off that list.
  void ListUnheld(DW_Base* result) ORVEX_REQUIRES(m_mutex);
  void UnlistUnheld(DW_Base* result) ORVEX_REQUIRES(m_mutex);
  // Lists a result of this table that no node holds; nothing for any other.
  void ListIfUnheld(DW_Base* result) noexcept ORVEX_REQUIRES(m_mutex);
  // Lets the caller, who holds this table's mutex, touch the table fields of `result`:
  // it reads them only while this table owns the result, or while making it the owner.
  void TableFieldsOf([[maybe_unused]] const DW_Base* result) const ORVEX_REQUIRES(m_mutex)
      ORVEX_ASSERT_CAPABILITY(result->ownerTableMutex) {}
  // Erases `entry` when only the table holds its result.
  bool EraseIfSole(Map::iterator entry, QZGraveyard& erased) ORVEX_REQUIRES(m_mutex);

  // m_mutex guards the fields below and the table fields of the results this table owns.
  // Only lazy results are built under it; nothing is freed while it is held.
  mutable Mutex m_mutex;
  Map m_totalDataMap ORVEX_GUARDED_BY(m_mutex);
  // The text FindEntry looks up, kept to spare an allocation per lookup.
  std::string m_probe ORVEX_GUARDED_BY(m_mutex);
  // The first of the owned results no node holds, linked through the results.
  DW_Base* m_unheld ORVEX_GUARDED_BY(m_mutex) = nullptr;
  // Entries every purge looks at: results this table holds under more than one key, and
  // (m_foreignKeys) results another table owns.
  std::set<std::string> m_multiKeys ORVEX_GUARDED_BY(m_mutex);
  std::set<std::string> m_foreignKeys ORVEX_GUARDED_BY(m_mutex);
  RequestCounters m_requests;
  // Read and written atomically (std::atomic_load and atomic_store).
  std::shared_ptr<ResultStore> m_store;
};

template <class Make>
QZRef<DW_Base> DataUnitManager::FindOrAdd(std::string_view dataHashId, tav::DataUnitStageType stage, Make make,
                                          bool* created, Leftovers& leftovers) {
  MutexLock lock(m_mutex);
  *created = false;
  Map::iterator entry = FindEntry(dataHashId);
  if (entry != m_totalDataMap.end() && entry->second && entry->second->GetStageType() == stage) return entry->second;
  leftovers.made = make();
  if (!leftovers.made) return QZRef<DW_Base>();
  Put(dataHashId, leftovers.made, true, &leftovers.displaced);
  *created = true;
  return leftovers.made;
}

}  // namespace orvex

#endif
