// How a stage node forms the hash of its own parameters: from a key text, a key text and
// an integer, or the canonical text of its mode record or list.
//
// A node never trusts an id cached in a record it was given: the host may have changed a
// field after an earlier hash. It hashes the text, or takes the hash the tree generation
// running on this thread computed from the text of the same record.
//
// Inner workings, installed only because StageNodes.h holds or uses it: not part of the
// interface hosts program against, and free to change.
#ifndef ORVEX_PARAMTREE_DETAIL_NODEPARAMETERS_H
#define ORVEX_PARAMTREE_DETAIL_NODEPARAMETERS_H

#include <orvex/foundation/Export.h>
#include <orvex/modes/ModeRecords.h>

#include <string>
#include <vector>

namespace orvex {

// The hash the generation running on this thread listed for a record or list it is
// building nodes from, or null.
ORVEX_EXPORT const std::string* FindGeneratedModeHash(const void* recordOrList);

// The hash of a key text.
inline std::string HashOfKeyText(const std::string& text) {
  return GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
}

// A node's own-parameter hash: of the key text followed by an integer parameter in decimal.
inline std::string OwnParameterHash(const char* key, int given, int&) {
  return HashOfKeyText(key + std::to_string(given));
}

// Of a record the node keeps a copy of: the generation's hash when it listed `given`, else
// the hash of the text; kept in the copy's cachedHashId.
template <class Record>
std::string OwnParameterHash(const char*, const Record& given, Record& copy) {
  const std::string* listed = FindGeneratedModeHash(&given);
  copy.cachedHashId = listed != nullptr ? *listed : std::string();
  return CalcHashValueOfMode(&copy);
}

// The same for a node that keeps a whole list of records.
template <class Record>
std::string OwnParameterHash(const char*, const std::vector<Record>& given, std::vector<Record>& copy) {
  for (size_t i = 0; i < copy.size(); ++i) {
    const std::string* listed = FindGeneratedModeHash(&given[i]);
    copy[i].cachedHashId = listed != nullptr ? *listed : std::string();
  }
  if (const std::string* listed = FindGeneratedModeHash(&given)) return *listed;
  return CalcHashValueOfModesVec(&copy);
}

// The texts the hashes above are formed from, for showing a node's parameters.
inline std::string OwnParameterText(const char* key, int given) { return key + std::to_string(given); }
template <class Record>
std::string OwnParameterText(const char*, const Record& record) {
  return record.ToString();
}
template <class Record>
std::string OwnParameterText(const char*, const std::vector<Record>& records) {
  std::string text;
  for (const Record& record : records) text += (text.empty() ? "" : "\n") + record.ToString();
  return text;
}

}  // namespace orvex

#endif
