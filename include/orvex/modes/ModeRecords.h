// Canonical texts and hash ids of the mode records.
//
// A record's canonical text (ToString) decides equality of parameters: records with
// equal texts have equal hash ids everywhere. Filling the hash cache writes the record;
// the library does it only while a stage node is being built, before anything else can
// see the record.
#ifndef ORVEX_MODES_MODERECORDS_H
#define ORVEX_MODES_MODERECORDS_H

#include <orvex/foundation/ModeRecordTypes.h>
#include <orvex/hashing/HashId.h>

#include <string>
#include <vector>

namespace orvex {

// The record's hash id, computed from its canonical text on first use and kept in its
// cachedHashId. A failed hash leaves the cache empty, so the next call tries again.
template <class Record>
std::string CalcHashValueOfMode(Record* record) {
  if (record->cachedHashId.empty()) {
    const std::string text = record->ToString();
    record->cachedHashId = GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
  }
  return record->cachedHashId;
}

// One hash id for a whole list: the members' hash ids (brought up to date in their
// caches) run together and hashed. The list's own id is not cached.
template <class Record>
std::string CalcHashValueOfModesVec(std::vector<Record>* records) {
  std::string joined;
  for (Record& record : *records) joined += CalcHashValueOfMode(&record);
  return GenerateHashId(joined.data(), static_cast<unsigned int>(joined.size()));
}

}  // namespace orvex

#endif
