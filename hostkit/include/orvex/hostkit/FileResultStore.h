// Results on disk under their data hash ids, shared by threads, processes, users and
// machines, trusting nothing it reads (docs/store.md: the format, the guarantees and the
// threat model).
//
// A store is a folder marked by a CACHEDIR.TAG. Each result is one file, "<fan>/<name>.entry"
// in one of 16 fan-out folders, written to a temporary file of this process alone and
// renamed into place, so a reader sees the old entry or the new one and never half of one.
// Every byte of an entry is checked before it is used: the header has a checksum of its
// own, the stored bytes another, and nothing is sized beyond what the file's length
// allows; with a key, entries carry an HMAC-SHA256 tag and only entries that verify are
// served. An entry that fails a check is a miss, counted as damaged, removed, and replaced
// when the result is computed again; an entry of another format version is a miss left in
// place. A hit refreshes the entry's modification time; a fan-out folder that passes its
// share of the size limit (counted in disk blocks) is cleaned of its least recently used
// entries. Files are opened relative to the store's own folder descriptors, never through a
// link, and created with the permissions the umask leaves, so a group can share a store.
//
// Faults never change results: a store that cannot write (a full disk, a folder that
// disappeared or cannot be written, a read-only mount) goes on without writing, with one
// warning, and answers every later load it can. A folder that is not a store (it holds
// other files and no tag) is never read, written or cleaned.
//
// Threads and processes: every operation may be called from any thread; several processes
// (forked ones too, and users of one group, and machines over a shared volume) may use one
// folder at once. Two of them racing on one id may both compute it; each then writes a
// complete entry.
#ifndef ORVEX_HOSTKIT_FILERESULTSTORE_H
#define ORVEX_HOSTKIT_FILERESULTSTORE_H

#include <orvex/datawrap/ResultStore.h>
#include <orvex/foundation/Export.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {

namespace store {
class EntryKey;
class StoreFolder;
}  // namespace store

// How stored bytes are encoded. Raw bytes load fastest where the files sit in the page
// cache; lz4 keeps a quarter of the bytes and zstd a sixth, for volumes where bytes cost
// more than decoding (a network volume, a small disk).
enum class StoreEncoding : int { kRaw = 0, kLz4 = 1, kZstd = 2 };

// The encoding named "raw", "lz4" or "zstd": false for any other name.
ORVEX_EXPORT bool ParseStoreEncoding(const std::string& name, StoreEncoding* encoding);

// Store keys larger than this are refused.
constexpr std::size_t kLargestStoreKey = 4096;

// The key in the file `path`: its bytes, from a regular file of 1 to kLargestStoreKey
// bytes. False, with the reason, otherwise.
ORVEX_EXPORT bool ReadStoreKey(const std::string& path, std::string* key, std::string* reason);

struct StoreOptions {
  uint64_t limitBytes = uint64_t(10) << 30;  // 10 GiB of disk blocks
  StoreEncoding encoding = StoreEncoding::kRaw;
  // With a key (ReadStoreKey), entries are tagged with HMAC-SHA256 over their header and
  // stored bytes, and entries whose tag does not verify are misses. Empty: no key.
  std::string key;
  // Makes a missing or empty folder a store; false for tools that only look at, check or
  // clear a store that exists.
  bool create = true;
  // Where the store's warnings go (default: standard error).
  std::function<void(const std::string&)> warn;
};

// What a whole store holds, and what a check or a clear of it did.
struct StoreContents {
  uint64_t entries = 0;       // entries and records (any format version)
  uint64_t bytes = 0;         // what entries, records and temporary files take on disk
  uint64_t counted = 0;       // what the fan-out folders' size files count
  uint64_t temporary = 0;     // temporary files
  uint64_t corrupt = 0;       // with Contents(true): damaged entries (unverified ones too) removed
  uint64_t unverified = 0;    // of those, with a key: entries whose tag did not verify
  uint64_t otherVersion = 0;  // with Contents(true): entries of another format version, left
  uint64_t removed = 0;       // with Clear: files removed
  // What could not be done, one line each: a file that could not be removed, a folder
  // that was not entered, something named like an entry that is no file.
  std::vector<std::string> problems;
};

class ORVEX_EXPORT FileResultStore : public ResultStore {
 public:
  // Opens the store in `folder`, making a missing or empty folder a store (with
  // options.create). A folder that is not a store, or cannot be made or written, is no
  // error: the store then only answers what it can, and warns once.
  explicit FileResultStore(const std::string& folder, StoreOptions options = StoreOptions());
  // Adds what this process wrote to the size files.
  ~FileResultStore() override;

  bool Load(const StoreKey& key, std::vector<unsigned char>* payload) override;
  void Save(const StoreKey& key, const unsigned char* payload, std::size_t size) override;
  // Counts the entry the last hit of `key` gave as damaged rather than hit, and removes it.
  void Refused(const StoreKey& key) override;
  StoreStatistics Statistics() const override;

  // Small records beside the results: what a host remembers of an input file, by a key
  // of its own. Checked (and with a key, tagged) like entries. A record is a claim of the
  // store's writers: its reader checks that the value is what it expects.
  bool LoadRecord(const std::string& key, std::string* value);
  void SaveRecord(const std::string& key, const std::string& value);
  // A record that its file contradicts (`file` holds `real`, not `recorded`): replaced,
  // and said on the warn function.
  void ReplaceRecord(const std::string& key, const std::string& file, const std::string& recorded,
                     const std::string& real);

  const std::string& Folder() const { return m_folder; }
  // Whether the folder is a store; NotAStore() says why not.
  bool IsStore() const;
  std::string NotAStore() const;
  bool Writable() const { return IsStore() && !m_writesOff.load(std::memory_order_relaxed); }
  // The file that holds (or would hold) the entry of `key`.
  std::string EntryPath(const StoreKey& key) const;
  // Adds this process's pending writes to the size files now. Writes are otherwise added
  // a batch at a time (64 writes or a hundredth of a folder's share); a host whose
  // processes may end without destructors (a forked worker) calls it after each image, as
  // the Python module does, so that such a process leaves at most that image uncounted.
  void Flush();

  // Every entry counted; with `check` each is read and verified, and the damaged removed.
  StoreContents Contents(bool check);
  // Removes every entry, record and temporary file.
  StoreContents Clear();

  // The text that names a result's entry.
  static std::string KeyText(const StoreKey& key);

 private:
  enum class Warning { kWrites, kEntry, kCounting, kRefresh, kFolders, kCount };
  // Says `text` on the warn function, the first time for its kind.
  void WarnOnce(Warning kind, const std::string& text);
  void WritesFail(const std::string& why);
  // Reads the entry of `keyText` into *payload; a damaged one is counted and removed.
  bool ReadEntry(const std::string& keyText, int stage, int codeVersion, std::vector<unsigned char>* payload);
  // Writes the entry; false when it was not written (and said why).
  bool WriteEntry(const std::string& keyText, int stage, int codeVersion, StoreEncoding encoding,
                  const unsigned char* payload, std::size_t size);
  // Removes the entry file of `keyText`.
  void RemoveEntry(const std::string& keyText);

  std::string m_folder;
  StoreOptions m_options;
  std::unique_ptr<store::EntryKey> m_key;
  std::unique_ptr<store::StoreFolder> m_store;
  std::atomic<bool> m_writesOff{false};
  std::atomic<bool> m_warned[static_cast<int>(Warning::kCount)] = {};
  // The statistics: counted atomically, read together.
  std::atomic<uint64_t> m_hits{0}, m_misses{0}, m_writes{0}, m_bytesRead{0}, m_bytesWritten{0}, m_corrupt{0},
      m_evictions{0}, m_writeFailures{0};
};

}  // namespace hostkit
}  // namespace orvex

#endif
