// The process-wide table of shared results, and the per-source counters of the stages
// whose results requesters still need.
//
// Ownership: the table holds one count of every result it lists; a purge releases the
// results that nobody else holds. Threads: every table operation takes the one
// process-wide table mutex; the counters take their own mutex.
#ifndef ORVEX_PARAMTREE_DATAUNITMANAGER_H
#define ORVEX_PARAMTREE_DATAUNITMANAGER_H

#include <orvex/Export.h>
#include <orvex/datawrap/DW_Base.h>
#include <orvex/tav/Enums.h>

#include <map>
#include <set>
#include <unordered_map>
#include <vector>
#include <mutex>
#include <string>
#include <string_view>

namespace orvex {

// A host's request for one source image: an entry with the value 1 asks that the results
// of that stage stay in their nodes; entries with other values are ignored.
typedef std::map<tav::DataUnitStageType, int> StageRequestMap;

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
  // m_countMutex guards m_typeCounts; taken after the tree group's mutex, before nothing.
  mutable std::mutex m_countMutex;
  // An entry exists only while its count is at least 1.
  std::map<tav::DataUnitStageType, int> m_typeCounts;
};

// The table of results keeps, beside its entries, the list of the entries that no
// parameter node holds (node stores count themselves in each result): only those can be
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
  bool GetFromTotalDataMap(std::string_view dataHashId, QZRef<DW_Base>& out);
  // Find-or-register in one step under the table's mutex, for a node that keeps the
  // result it gets: the entry under `dataHashId` when it is a result of `stage`; otherwise
  // what `make()` returns, entered under the id (replacing an entry of another stage)
  // unless it is empty. `make` runs under the mutex, so it must only build a lazy result
  // and take no node or table lock. *created says whether the result is new; a replaced
  // entry's count goes to *displaced, for the caller to release after its own locks.
  template <class Make>
  QZRef<DW_Base> FindOrAdd(std::string_view dataHashId, tav::DataUnitStageType stage, Make make, bool* created,
                           QZRef<DW_Base>* displaced);
  // Erases the entry when only the table holds it; returns whether it did.
  bool UpdateDataInTotalDataMap(const std::string& dataHashId);
  // Erases every entry that only the table holds; returns whether any went. An erased
  // result can no longer be pinned by anyone and is destroyed after the mutex is released.
  // The cost follows the entries no node holds, not the size of the table.
  bool UpdateTotalDataMap();
  // UpdateTotalDataMap until a purge erases nothing: results freed by one purge may leave
  // the results they held (their extra inputs) to the table alone.
  void UpdateTotalDataMapUntilSettled();
  int GetDataMapSize();

  // For node stores: of these results, which they still hold, those that no node holds
  // any more become candidates of the next purge.
  void NoteResultsWithoutNodeHolder(const std::vector<QZRef<DW_Base>>& results);

 private:
  typedef std::unordered_map<std::string, QZRef<DW_Base>> Map;
  // The entry under `id`, looked up without building a string. REQUIRES: m_mutex held.
  Map::iterator FindEntry(std::string_view id);
  // Bookkeeping when an entry starts to hold its result, and before it lets go of it.
  // REQUIRES: m_mutex held.
  void Enter(Map::iterator entry, bool nodeWillHold);
  void Leave(Map::iterator entry);
  void LeaveOf(DW_Base* result, const std::string& key);
  // Lists a result as held by no node, or takes it off that list. REQUIRES: m_mutex held.
  void ListUnheld(DW_Base* result);
  static void UnlistUnheld(DW_Base* result);
  // Erases `entry` when only the table holds its result. REQUIRES: m_mutex held.
  bool EraseIfSole(Map::iterator entry, QZGraveyard& erased);

  // m_mutex guards the maps and lists of every manager and the table fields of every
  // result. Taken inside node locks, never around one; inside it only lazy results are
  // built (wrap and leaf locks). Nothing is freed while it is held.
  static std::mutex m_mutex;
  Map m_totalDataMap;
  // The text FindEntry looks up, kept to spare an allocation per lookup.
  std::string m_probe;
  // The entries no node holds (each result knows its slot).
  std::vector<DW_Base*> m_unheld;
  // Entries whose result the tables hold under more than one key: looked at by every purge.
  std::set<std::string> m_multiKeys;
};

template <class Make>
QZRef<DW_Base> DataUnitManager::FindOrAdd(std::string_view dataHashId, tav::DataUnitStageType stage, Make make,
                                          bool* created, QZRef<DW_Base>* displaced) {
  std::lock_guard<std::mutex> lock(m_mutex);
  *created = false;
  Map::iterator entry = FindEntry(dataHashId);
  if (entry != m_totalDataMap.end() && entry->second && entry->second->GetStageType() == stage) return entry->second;
  QZRef<DW_Base> made = make();
  if (!made) return made;
  *created = true;
  if (entry == m_totalDataMap.end()) {
    entry = m_totalDataMap.emplace(std::string(dataHashId), made).first;
  } else {
    Leave(entry);
    *displaced = std::move(entry->second);
    entry->second = made;
  }
  Enter(entry, true);
  return made;
}

}  // namespace orvex

#endif
