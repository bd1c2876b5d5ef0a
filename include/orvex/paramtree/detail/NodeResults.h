// A parameter node's results by data key, with an index by source image, and the results
// it holds only to keep a chain below alive.
//
// Ownership: a node's results hold one count of each result and count themselves among the
// result's node holders, which lets the table of results tell the entries no node holds
// (DataUnitManager). Results taken out go to a DroppedResults, which tells the table and
// releases them when it goes, after the caller's locks.
//
// A chain hold is a result another tree's node made, on which a result this node's tree
// adopted stands (its parent, say), while this node's own result for the same input is
// another: the node holds it for its source image like its own results, so that it lives
// while the tree counts what stands on it, but never hands it out as its result.
//
// Threads: not synchronised; the owning node's mutex guards it. DroppedResults is one
// thread's.
//
// Inner workings, installed only because ParameterNodeBase.h holds or uses it: not part of the
// interface hosts program against, and free to change.
#ifndef ORVEX_PARAMTREE_DETAIL_NODERESULTS_H
#define ORVEX_PARAMTREE_DETAIL_NODERESULTS_H

#include <orvex/foundation/Export.h>
#include <orvex/datawrap/DW_Base.h>

#include <map>
#include <memory>
#include <unordered_map>
#include <string>
#include <vector>

namespace orvex {

// Results that nodes let go of. When it goes (or on Release) it tells the table
// which of them no node holds any more, then drops its counts: create it before the
// locks under which results are taken, so that it goes after them.
class ORVEX_EXPORT DroppedResults {
 public:
  explicit DroppedResults(DataUnitManager* table) : m_table(table) {}
  ~DroppedResults() { Release(); }
  DroppedResults(const DroppedResults&) = delete;
  DroppedResults& operator=(const DroppedResults&) = delete;

  // Makes room for `more` results, so that as many Add calls cannot fail.
  void Reserve(size_t more) { m_results.reserve(m_results.size() + more); }
  // Takes one count of `result`. REQUIRES: room made by Reserve.
  void Add(const QZRef<DW_Base>& result) noexcept { m_results.push_back(result); }
  void Release() noexcept;
  size_t Count() const { return m_results.size(); }

 private:
  DataUnitManager* m_table;
  std::vector<QZRef<DW_Base>> m_results;
};

class ORVEX_EXPORT NodeResults {
 public:
  NodeResults() = default;
  ~NodeResults();
  NodeResults(const NodeResults&) = delete;
  NodeResults& operator=(const NodeResults&) = delete;

  // The result under `key`, or null.
  const QZRef<DW_Base>* Find(const std::string& key) const;
  // Keeps `result` under `key`. REQUIRES: no result under `key` yet, `result` not empty.
  // All or nothing when memory runs out.
  void Insert(const std::string& key, const QZRef<DW_Base>& result);
  // Whether `result` is held as a chain hold.
  bool HoldsForChain(const DW_Base& result) const;
  // Holds `result` for the chain it carries. REQUIRES: not held yet, `result` not empty.
  // All or nothing when memory runs out.
  void InsertChainHold(const QZRef<DW_Base>& result);
  // Takes every result of that source image, whatever its key, chain holds included.
  void TakeSource(const std::string& sourceImageHashId, DroppedResults& dropped);
  // Exchanges the results of two stores.
  void Swap(NodeResults& other) noexcept { m_entries.swap(other.m_entries); }
  // Lets go of every result at once, telling `table` (if any) which no node holds any
  // more; for a store nobody else reaches. Never allocates; call it outside every lock.
  void LetGoOfAll(DataUnitManager* table) noexcept;
  // The results of that source image, in key order.
  std::vector<DW_Base*> ResultsOfSource(const std::string& sourceImageHashId) const;
  int Size() const { return m_entries ? static_cast<int>(m_entries->byKey.size()) : 0; }

  typedef std::unordered_map<std::string, QZRef<DW_Base>> ResultsByKey;

 private:
  struct Entries {
    ResultsByKey byKey;
    // For the results whose key is not their source id (region results, copies): their
    // keys (in byKey, whose keys stay put) by source id. Whole-image results are found
    // under their source id directly.
    std::unordered_map<std::string, std::vector<const std::string*>> otherKeysBySource;
    // How many results are kept under their source id: region nodes hold none, and skip
    // that look-up, which misses the cache once many images are in flight.
    size_t keyedBySource = 0;
    // The chain holds, by source id.
    std::unordered_map<std::string, std::vector<QZRef<DW_Base>>> chainHoldsBySource;
  };
  // Erases `entry` and hands its result to `dropped`. REQUIRES: room in `dropped`.
  void Take(std::unordered_map<std::string, QZRef<DW_Base>>::iterator entry, DroppedResults& dropped) noexcept;

  // Made with the first result: most nodes of a large tree hold none at a time.
  std::unique_ptr<Entries> m_entries;
};

}  // namespace orvex

#endif
