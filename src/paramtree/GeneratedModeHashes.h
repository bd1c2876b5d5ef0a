// Hash ids of mode records that the tree generation computed from the records' texts.
//
// The generation hashes each record of its own copies of the lists once and lists them
// here, for the nodes it builds on this thread (FindGeneratedModeHash), so that a large
// tree does not hash the same text thousands of times.
#ifndef ORVEX_SRC_PARAMTREE_GENERATEDMODEHASHES_H
#define ORVEX_SRC_PARAMTREE_GENERATEDMODEHASHES_H

#include <orvex/modes/ModeRecords.h>

#include <string>
#include <unordered_map>
#include <vector>

namespace orvex {

// Lists records (and whole lists) for the nodes built on this thread while it lives.
class GeneratedModeHashes {
 public:
  GeneratedModeHashes() : m_previous(t_current) { t_current = this; }
  ~GeneratedModeHashes() { t_current = m_previous; }
  GeneratedModeHashes(const GeneratedModeHashes&) = delete;
  GeneratedModeHashes& operator=(const GeneratedModeHashes&) = delete;

  // Hashes every record of `records` from its text (into its cachedHashId) and lists the
  // records and the list.
  template <class Record>
  void HashAndList(std::vector<Record>& records) {
    for (Record& record : records) {
      record.cachedHashId.clear();
      m_hashes[&record] = CalcHashValueOfMode(&record);
    }
    m_hashes[&records] = CalcHashValueOfModesVec(&records);
  }

  // The hash listed for a record or list by the generation running on this thread, or null.
  static const std::string* Find(const void* recordOrList) {
    if (t_current == nullptr) return nullptr;
    const auto found = t_current->m_hashes.find(recordOrList);
    return found != t_current->m_hashes.end() ? &found->second : nullptr;
  }

 private:
  static thread_local GeneratedModeHashes* t_current;
  std::unordered_map<const void*, std::string> m_hashes;
  GeneratedModeHashes* m_previous;
};

}  // namespace orvex

#endif
