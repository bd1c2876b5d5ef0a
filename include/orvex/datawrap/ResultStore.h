// A second level beneath the table of results: results kept beyond the process, under
// their data hash ids, by a store the host installs (QZParameterTreeAndDataPool::
// SetResultStore). The library itself reads and writes no files: it hands a result's bytes
// (ResultCodec.h) to the store and asks for them back.
//
// A result is looked up by its key before its stage would run: a hit restores it without
// running the stage and without its parent's result (only the stage objects are made); a
// miss runs the stage and saves the result. One wrap per data hash id, with its lock held
// while it loads or computes, keeps this to one load or one computation per id in a
// process. The stages whose result is their parent's (and the source image) are never
// stored.
//
// Threads: the library calls Load and Save from any thread, several at once, and expects
// the store to guard itself.
//
// Faults: a Load that throws is a miss and a Save that throws keeps nothing; neither
// fails the computation that asked (the library logs the first such failure).
#ifndef ORVEX_DATAWRAP_RESULTSTORE_H
#define ORVEX_DATAWRAP_RESULTSTORE_H

#include <orvex/foundation/Export.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// What names a stored result: its data hash id, its stage and the code version of that
// stage (the stage table's kCodeVersion), so that a result computed by older code is
// never served.
struct StoreKey {
  std::string dataHashId;
  int stage = 0;
  int codeVersion = 0;
};

// What a store did since it was opened.
struct StoreStatistics {
  uint64_t hits = 0;
  uint64_t misses = 0;
  uint64_t writes = 0;
  uint64_t bytesRead = 0;
  uint64_t bytesWritten = 0;
  uint64_t corrupt = 0;    // entries found damaged, treated as misses and replaced
  uint64_t evictions = 0;  // entries removed to stay within the size limit
  uint64_t writeFailures = 0;
};

class ORVEX_EXPORT ResultStore {
 public:
  virtual ~ResultStore();
  // The bytes stored under `key` into *payload, replacing what it held: true on a hit;
  // false on a miss, also for an entry that is damaged or was written under another key.
  virtual bool Load(const StoreKey& key, std::vector<unsigned char>* payload) = 0;
  // Keeps `payload` under `key`. A store that cannot write keeps nothing and says so once.
  virtual void Save(const StoreKey& key, const unsigned char* payload, std::size_t size) = 0;
  // The bytes the last hit for `key` gave could not be read back as a result of its stage
  // (they passed the store's checks but are no result): the store may count the entry as
  // damaged and drop it. The result is computed and saved again.
  virtual void Refused(const StoreKey& key) { (void)key; }
  virtual StoreStatistics Statistics() const = 0;
};

}  // namespace orvex

#endif
