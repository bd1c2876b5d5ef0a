// A fan-out folder: its lock, its size file, this process's pending writes, counting and
// cleaning.
#include "FanFolder.h"

#include "EntryFormat.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <vector>

namespace orvex {
namespace hostkit {
namespace store {

namespace {

constexpr char kLockName[] = "lock";
constexpr char kSizeName[] = "size";
// A batch: this many writes, a hundredth of the share, or a second.
constexpr int kBatchWrites = 64;
constexpr int64_t kBatchNanoseconds = 1000000000;
// A size file counted longer ago than this is counted again from the folder.
constexpr int64_t kCountedFor = 600;

int64_t SteadyNanoseconds() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
int64_t NowSeconds() { return static_cast<int64_t>(std::time(nullptr)); }

std::string Why(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }

// Holds an exclusive flock on a fan-out folder's lock file. The file is opened read-only
// (a lock needs no more, so every member of a group that can read it can lock) and never
// through a link; created exclusively when missing.
class FanLock {
 public:
  explicit FanLock(int folder) {
    for (int attempt = 0; attempt < 3 && !m_file.IsOpen(); ++attempt) {
      struct stat info;
      m_file = OpenRegularAt(folder, kLockName, &info);
      if (m_file.IsOpen() || errno != ENOENT) break;
      const int created = CreateExclusiveAt(folder, kLockName, "");
      if (created != 0 && created != EEXIST) {
        errno = created;
        break;
      }
    }
    if (!m_file.IsOpen()) {
      m_error = errno;
      return;
    }
    while (flock(m_file.Get(), LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      m_error = errno;
      m_file.Reset();
      return;
    }
  }
  FanLock(const FanLock&) = delete;
  FanLock& operator=(const FanLock&) = delete;
  // Closing the file releases the lock.
  bool Held() const { return m_file.IsOpen(); }
  int Error() const { return m_error; }

 private:
  Descriptor m_file;
  int m_error = 0;
};

// The size file's bytes and when they were counted; false for a file that is missing or
// is not two whole numbers.
bool ReadSize(int folder, uint64_t* bytes, int64_t* countedAt) {
  struct stat info;
  const Descriptor file = OpenRegularAt(folder, kSizeName, &info);
  char text[64] = {};
  if (!file.IsOpen() || info.st_size <= 0 || info.st_size >= static_cast<off_t>(sizeof text) ||
      !ReadFully(file.Get(), text, static_cast<std::size_t>(info.st_size))) {
    return false;
  }
  unsigned long long size = 0, counted = 0;
  int used = 0;
  if (std::sscanf(text, "%20llu %20llu%n", &size, &counted, &used) != 2 || text[used] != '\n' ||
      used + 1 != info.st_size || text[0] < '0' || text[0] > '9') {
    return false;
  }
  *bytes = size;
  *countedAt = static_cast<int64_t>(counted);
  return true;
}

// A file the folder's size counts: entries, records and temporary files.
bool IsCounted(const std::string& name) { return IsEntryFileName(name) || IsTemporaryName(name); }

}  // namespace

FanFolder::FanFolder(Descriptor folder, std::string path, uint64_t share)
    : m_folder(std::move(folder)), m_path(std::move(path)), m_share(share) {}

FanReport FanFolder::Added(uint64_t diskBytes) {
  uint64_t pending = 0;
  {
    MutexLock lock(m_mutex);
    const int64_t now = SteadyNanoseconds();
    if (m_pendingOf != getpid()) {
      // A forked child: what its parent had pending is the parent's to add.
      m_pendingOf = getpid();
      m_pendingBytes = 0;
      m_pendingWrites = 0;
    }
    if (m_pendingWrites == 0) m_oldestPending = now;
    m_pendingBytes += diskBytes;
    ++m_pendingWrites;
    if (m_pendingBytes < std::max<uint64_t>(1, m_share / 100) && m_pendingWrites < kBatchWrites &&
        now - m_oldestPending < kBatchNanoseconds) {
      return FanReport();
    }
    pending = m_pendingBytes;
    m_pendingBytes = 0;
    m_pendingWrites = 0;
  }
  return AddToSize(pending);
}

FanReport FanFolder::Flush() {
  uint64_t pending = 0;
  {
    MutexLock lock(m_mutex);
    if (m_pendingOf != getpid() || m_pendingWrites == 0) return FanReport();
    pending = m_pendingBytes;
    m_pendingBytes = 0;
    m_pendingWrites = 0;
  }
  return AddToSize(pending);
}

FanReport FanFolder::AddToSize(uint64_t bytes) {
  FanReport report;
  const FanLock lock(m_folder.Get());
  if (!lock.Held()) {
    report.problem = "cannot count the writes in " + m_path + ": " + Why("its lock file", lock.Error());
    return report;
  }
  const int64_t now = NowSeconds();
  uint64_t size = 0;
  int64_t countedAt = 0;
  if (ReadSize(m_folder.Get(), &size, &countedAt) && now - countedAt <= kCountedFor && countedAt - now <= kCountedFor) {
    size += bytes;
  } else {
    size = Count().diskBytes;  // the writes just made are on disk, and in the count
    countedAt = now;
  }
  if (size > m_share) {
    size = Clean(&report.evictions);
    countedAt = now;
  }
  report.problem = WriteSize(size, countedAt);
  return report;
}

int64_t FanFolder::Counted() const {
  uint64_t size = 0;
  int64_t countedAt = 0;
  return ReadSize(m_folder.Get(), &size, &countedAt) ? static_cast<int64_t>(std::min<uint64_t>(size, INT64_MAX)) : -1;
}

FanCount FanFolder::Count() const {
  FanCount count;
  std::vector<std::string> names;
  if (!ListFolder(m_folder.Get(), &names)) return count;
  for (const std::string& name : names) {
    struct stat info;
    if (!IsCounted(name) || fstatat(m_folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
      continue;
    }
    count.diskBytes += DiskBytes(info);
    if (IsTemporaryName(name)) ++count.temporary;
    else ++count.entries;
  }
  return count;
}

uint64_t FanFolder::Clean(uint64_t* evictions) const {
  struct Found {
    std::string name;
    int64_t modified;
    uint64_t bytes;
  };
  std::vector<Found> entries;
  uint64_t total = 0;
  std::vector<std::string> names;
  if (!ListFolder(m_folder.Get(), &names)) return 0;
  for (std::string& name : names) {
    struct stat info;
    if (!IsCounted(name) || fstatat(m_folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const uint64_t bytes = S_ISREG(info.st_mode) ? DiskBytes(info) : 0;
    total += bytes;
    // Temporary files are a writer's until they are old; anything else named like an
    // entry (a link, a folder) goes first.
    if (IsEntryFileName(name)) {
      const int64_t modified = S_ISREG(info.st_mode) ? static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : 0;
      entries.push_back({std::move(name), modified, bytes});
    }
  }
  std::sort(entries.begin(), entries.end(), [](const Found& a, const Found& b) { return a.modified < b.modified; });
  const uint64_t target = m_share / 10 * 9;
  for (const Found& entry : entries) {
    if (total <= target) break;
    if (RemoveAt(m_folder.Get(), entry.name.c_str()) == 0) {
      total -= entry.bytes;
      ++*evictions;
    }
  }
  return total;
}

std::string FanFolder::WriteSize(uint64_t bytes, int64_t countedAt) const {
  const std::string text = std::to_string(bytes) + " " + std::to_string(countedAt) + "\n";
  iovec part{const_cast<char*>(text.data()), text.size()};
  const int error = WriteWholeAt(m_folder.Get(), kSizeName, &part, 1, nullptr);
  return error == 0 ? std::string() : "cannot count the writes in " + m_path + ": " + Why("its size file", error);
}

FanReport FanFolder::ResetSize(uint64_t bytes) {
  FanReport report;
  const FanLock lock(m_folder.Get());
  if (!lock.Held()) {
    report.problem = "cannot reset the size of " + m_path + ": " + Why("its lock file", lock.Error());
    return report;
  }
  report.problem = WriteSize(bytes, NowSeconds());
  return report;
}

void FanFolder::SweepTemporaryFiles(int64_t ageSeconds) {
  std::vector<std::string> names;
  if (!ListFolder(m_folder.Get(), &names)) return;
  const int64_t now = NowSeconds();
  for (const std::string& name : names) {
    struct stat info;
    if (IsTemporaryName(name) && fstatat(m_folder.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        now - static_cast<int64_t>(info.st_mtime) > ageSeconds) {
      unlinkat(m_folder.Get(), name.c_str(), 0);
    }
  }
}

}  // namespace store
}  // namespace hostkit
}  // namespace orvex
