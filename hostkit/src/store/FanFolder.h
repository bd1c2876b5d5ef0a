// One of a store's sixteen fan-out folders: its descriptor, the lock file that orders its
// size bookkeeping and cleaning between processes, its size file, and what this process
// wrote into it that the size file does not count yet.
//
// The size file holds the bytes the folder's files take on disk (their blocks) and when
// they were last counted from the folder itself. Each process adds its writes a batch at
// a time: when the folder's pending bytes reach a hundredth of its share of the limit,
// after 8 writes, a second after the oldest pending write, and whenever the store is
// flushed (the host kit flushes after every image, the tool on SIGTERM and SIGINT). A
// size file that is missing, unreadable or counted more than ten minutes ago is counted
// again from the folder under the lock; so is the folder when it passes its share, and it
// is then cleaned of its least recently used entries down to 90 % of the share.
#ifndef ORVEX_HOSTKIT_STORE_FANFOLDER_H
#define ORVEX_HOSTKIT_STORE_FANFOLDER_H

#include "AtomicFile.h"

#include <orvex/foundation/Mutex.h>

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace orvex {
namespace hostkit {
namespace store {

// What a flush or a clean did, for the store's statistics and its warnings.
struct FanReport {
  uint64_t evictions = 0;
  std::string problem;  // what could not be counted or cleaned, when something could not
};

// What a whole count of a folder found.
struct FanCount {
  uint64_t diskBytes = 0;  // entries, records and temporary files
  uint64_t entries = 0;    // entries and records of any format version
  uint64_t temporary = 0;
};

class FanFolder {
 public:
  // Over the folder open as `folder`; `path` names it in messages; `share` is its part of
  // the store's limit.
  FanFolder(Descriptor folder, std::string path, uint64_t share);
  FanFolder(const FanFolder&) = delete;
  FanFolder& operator=(const FanFolder&) = delete;

  int Get() const { return m_folder.Get(); }
  const std::string& Path() const { return m_path; }

  // A write into the folder that takes `diskBytes`: added to the size file with the next
  // batch, or now when the batch is due.
  FanReport Added(uint64_t diskBytes);
  // Adds this process's pending writes to the size file now (and cleans the folder when
  // it is over its share).
  FanReport Flush();
  // The bytes the size file counts; -1 when it is missing or unreadable.
  int64_t Counted() const;
  // The folder's files counted from the folder itself.
  FanCount Count() const;
  // Removes the temporary files older than `ageSeconds` (left by processes that died).
  void SweepTemporaryFiles(int64_t ageSeconds);
  // Writes a size file of `bytes`, counted now (after a clear).
  FanReport ResetSize(uint64_t bytes);

 private:
  // Adds `bytes` to the size file under the lock, counting the folder again when the file
  // is missing or stale, and cleans the folder when it passes its share.
  FanReport AddToSize(uint64_t bytes);
  // Removes the least recently used entries down to 90 % of the share; the bytes left.
  uint64_t Clean(uint64_t* evictions) const;
  std::string WriteSize(uint64_t bytes, int64_t countedAt) const;

  const Descriptor m_folder;
  const std::string m_path;
  const uint64_t m_share;
  // m_mutex guards this process's pending additions; a leaf, never held during a file
  // operation.
  mutable Mutex m_mutex;
  uint64_t m_pendingBytes ORVEX_GUARDED_BY(m_mutex) = 0;
  int m_pendingWrites ORVEX_GUARDED_BY(m_mutex) = 0;
  int64_t m_oldestPending ORVEX_GUARDED_BY(m_mutex) = 0;  // steady clock, ns
  // The process the pending additions are of: a forked child starts with none.
  pid_t m_pendingOf ORVEX_GUARDED_BY(m_mutex) = 0;
};

}  // namespace store
}  // namespace hostkit
}  // namespace orvex

#endif
