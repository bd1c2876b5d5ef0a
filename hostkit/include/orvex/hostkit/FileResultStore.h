// Results on disk under their data hash ids, shared by threads, processes and machines.
//
// A store is a folder. Each result is one file, "<fan>/<key hash>.entry" in one of 16
// fan-out folders, written to a temporary file in the same folder and renamed into place,
// so a reader sees the old entry or the new one and never half of one. An entry starts
// with a header (magic, format version, the entry's own key, stage, code version,
// encoding, sizes and an XXH3-64 checksum of the stored bytes), all checked on every read:
// an entry that fails any check is a miss, counted as corrupt, removed, and replaced when
// the result is computed again. A hit refreshes the entry's modification time; when the
// store grows past its limit, the fan-out folder just written to is cleaned of its oldest
// entries (one folder at a time, as ccache does), down to 90 % of its share. Temporary
// files that a killed process left are removed once they are an hour old.
//
// Faults never change results: a store that cannot write (a full disk, a folder that
// disappeared or cannot be written, a path that is a file) goes on without writing, with
// one warning, and answers every later load it can.
//
// Threads and processes: every operation may be called from any thread; several
// processes (on several machines, over a shared volume) may use one folder at once. Two
// of them racing on one id may both compute it; each then writes a complete entry.
#ifndef ORVEX_HOSTKIT_FILERESULTSTORE_H
#define ORVEX_HOSTKIT_FILERESULTSTORE_H

#include <orvex/datawrap/ResultStore.h>
#include <orvex/foundation/Export.h>
#include <orvex/foundation/Mutex.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {
namespace hostkit {

// How stored bytes are encoded. Raw bytes load fastest where the files sit in the page
// cache; lz4 keeps a quarter of the bytes and zstd a sixth, for volumes where bytes cost
// more than decoding (a network volume, a small disk).
enum class StoreEncoding : int { kRaw = 0, kLz4 = 1, kZstd = 2 };

// The encoding named "raw", "lz4" or "zstd": false for any other name.
ORVEX_EXPORT bool ParseStoreEncoding(const std::string& name, StoreEncoding* encoding);

struct StoreOptions {
  uint64_t limitBytes = uint64_t(10) << 30;  // 10 GiB
  StoreEncoding encoding = StoreEncoding::kRaw;
  // Where the one warning of a store that cannot write goes (default: standard error).
  std::function<void(const std::string&)> warn;
};

// What a whole store holds, and what a check of it found.
struct StoreContents {
  uint64_t entries = 0;
  uint64_t bytes = 0;
  uint64_t corrupt = 0;    // with Check: entries that failed a check, removed
  uint64_t temporary = 0;  // temporary files found
};

class ORVEX_EXPORT FileResultStore : public ResultStore {
 public:
  // Opens (and creates) the store in `folder`. A folder that cannot be made or written is
  // no error: the store then only reads what it can, and warns once.
  explicit FileResultStore(const std::string& folder, StoreOptions options = StoreOptions());
  ~FileResultStore() override;

  bool Load(const StoreKey& key, std::vector<unsigned char>* payload) override;
  void Save(const StoreKey& key, const unsigned char* payload, std::size_t size) override;
  StoreStatistics Statistics() const override;

  // Small records beside the results: what a host remembers of an input file, by a key
  // of its own (the hash of the file's bytes). Checked like entries.
  bool LoadRecord(const std::string& key, std::string* value);
  void SaveRecord(const std::string& key, const std::string& value);

  const std::string& Folder() const { return m_folder; }
  // The file that holds (or would hold) the entry of `key`.
  std::string EntryPath(const StoreKey& key) const;
  bool Writable() const { return !m_writesOff.load(std::memory_order_relaxed); }

  // Every entry counted; with `check` each is read and verified, and the damaged removed.
  StoreContents Contents(bool check);
  // Removes every entry, record and temporary file.
  void Clear();

  // The bytes of an entry file for `key` and `payload` as Save writes them, and the
  // payload such bytes hold for `key` (false for bytes that fail a check). For tests and
  // the entry reader's fuzzer.
  static std::string EncodeEntry(const std::string& key, int stage, int codeVersion, StoreEncoding encoding,
                                 const unsigned char* payload, std::size_t size);
  static bool DecodeEntry(const std::string& bytes, const std::string& key, int stage, int codeVersion,
                          std::vector<unsigned char>* payload);
  // The text that names a result's entry.
  static std::string KeyText(const StoreKey& key);

 private:
  // The fan-out folder (0 to 15) of a key: the first hex digit of its hash.
  static int FanOf(const std::string& keyText);
  std::string PathOf(const std::string& keyText, const char* suffix) const;
  bool ReadEntry(const std::string& path, const std::string& keyText, int stage, int codeVersion,
                 std::vector<unsigned char>* payload, bool* corrupt);
  bool WriteEntry(const std::string& path, const std::string& header, std::string_view stored);
  void WritesFail(const std::string& why);
  // Save's work; may throw.
  void SaveEntry(const StoreKey& key, const unsigned char* payload, std::size_t size);
  // Adds `bytes` to the size kept for a fan-out folder; cleans it when the store is full.
  void Account(int fan, int64_t bytes);
  // Adds to a folder's size file under its lock; returns the new size.
  int64_t AddToFanSize(int fan, int64_t bytes);
  void CleanFan(int fan);
  uint64_t TotalSize();
  void SweepTemporaryFiles();

  std::string m_folder;
  StoreOptions m_options;
  // m_pendingMutex guards the bytes and writes not yet added to the folders' size files;
  // a leaf.
  Mutex m_pendingMutex;
  int64_t m_pendingBytes[16] ORVEX_GUARDED_BY(m_pendingMutex) = {};
  int m_pendingWrites[16] ORVEX_GUARDED_BY(m_pendingMutex) = {};
  std::atomic<bool> m_writesOff{false};
  std::atomic<bool> m_warned{false};
  // The statistics: counted atomically, read together.
  std::atomic<uint64_t> m_hits{0}, m_misses{0}, m_writes{0}, m_bytesRead{0}, m_bytesWritten{0}, m_corrupt{0},
      m_evictions{0}, m_writeFailures{0};
};

}  // namespace hostkit
}  // namespace orvex

#endif
