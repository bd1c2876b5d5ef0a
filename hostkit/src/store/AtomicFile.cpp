// Files of a folder others may write: opened relative to the folder, never through a link,
// written whole under a name of this process alone and renamed into place.
#include "AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace orvex {
namespace hostkit {
namespace store {

namespace {

// Eight bytes no other process draws: from the kernel's generator, or, where it cannot
// answer, from the clock and a counter mixed (the pid in the name still sets us apart).
uint64_t RandomBits() {
  uint64_t bits = 0;
  if (getrandom(&bits, sizeof bits, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof bits)) return bits;
  static std::atomic<uint64_t> counter{0};
  bits = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
         (counter.fetch_add(1) * 0x9e3779b97f4a7c15ULL);
  return bits ^ (bits >> 29);
}

}  // namespace

void Descriptor::Reset() noexcept {
  if (m_descriptor >= 0) close(m_descriptor);
  m_descriptor = -1;
}

uint64_t DiskBytes(const struct stat& info) {
  const uint64_t blocks = static_cast<uint64_t>(info.st_blocks) * 512;
  // A file system that reports no blocks for a file with bytes (some network volumes)
  // is taken to round the bytes up to a 4 KiB block.
  if (blocks == 0 && info.st_size > 0) return (static_cast<uint64_t>(info.st_size) + 4095) / 4096 * 4096;
  return blocks;
}

Descriptor OpenFolderAt(int at, const char* name, bool followLink) {
  return Descriptor(openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW)));
}

bool MakeFolderAt(int at, const char* name) {
  if (mkdirat(at, name, 0777) == 0) return true;
  if (errno != EEXIST) return false;
  // Something has the name: it must be a folder, not a link to one.
  struct stat info;
  if (fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(info.st_mode)) return true;
  errno = ENOTDIR;
  return false;
}

Descriptor OpenRegularAt(int at, const char* name, struct stat* info) {
  Descriptor file(openat(at, name, O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY));
  if (!file.IsOpen()) return file;
  if (fstat(file.Get(), info) != 0) {
    const int error = errno;
    file.Reset();
    errno = error;
  } else if (!S_ISREG(info->st_mode)) {
    file.Reset();
    errno = S_ISDIR(info->st_mode) ? EISDIR : EINVAL;
  }
  return file;
}

bool ReadFully(int descriptor, void* into, std::size_t size) {
  auto* at = static_cast<char*>(into);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = read(descriptor, at + done, size - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

std::string TemporaryName(const std::string& target) {
  static thread_local uint64_t serial = 0;
  char suffix[80];
  std::snprintf(suffix, sizeof suffix, ".tmp.%ld.%llu.%016llx", static_cast<long>(getpid()),
                static_cast<unsigned long long>(++serial), static_cast<unsigned long long>(RandomBits()));
  return target + suffix;
}

bool IsTemporaryName(std::string_view name) { return name.find(".tmp.") != std::string_view::npos; }

int WriteWholeAt(int at, const std::string& target, const iovec* parts, int count, uint64_t* diskBytes) {
  const std::string temporary = TemporaryName(target);
  const int descriptor = openat(at, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (descriptor < 0) return errno;
  int error = 0;
  std::size_t total = 0;
  for (int i = 0; i < count; ++i) total += parts[i].iov_len;
  // All parts in as few calls as the kernel takes, from wherever the last call stopped.
  std::size_t done = 0;
  while (done < total && error == 0) {
    iovec left[8];
    int leftCount = 0;
    std::size_t skip = done;
    for (int i = 0; i < count && leftCount < 8; ++i) {
      if (skip >= parts[i].iov_len) {
        skip -= parts[i].iov_len;
        continue;
      }
      left[leftCount++] = {static_cast<char*>(parts[i].iov_base) + skip, parts[i].iov_len - skip};
      skip = 0;
    }
    const ssize_t put = writev(descriptor, left, leftCount);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) error = put < 0 ? errno : ENOSPC;
    else done += static_cast<std::size_t>(put);
  }
  struct stat info;
  if (error == 0 && fstat(descriptor, &info) == 0 && diskBytes != nullptr) *diskBytes = DiskBytes(info);
  if (close(descriptor) != 0 && error == 0) error = errno;
  if (error == 0 && renameat(at, temporary.c_str(), at, target.c_str()) != 0) {
    // A temporary file that is gone (a clear removed it) costs this file alone.
    error = errno == ENOENT ? EAGAIN : errno;
  }
  if (error != 0) unlinkat(at, temporary.c_str(), 0);
  return error;
}

int CreateExclusiveAt(int at, const char* name, std::string_view content) {
  Descriptor file(openat(at, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
  if (!file.IsOpen()) return errno;
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t put = write(file.Get(), content.data() + done, content.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return put < 0 ? errno : ENOSPC;
    done += static_cast<std::size_t>(put);
  }
  return 0;
}

int RemoveAt(int at, const char* name) {
  if (unlinkat(at, name, 0) == 0) return 0;
  if (errno != EISDIR && errno != EPERM) return errno;
  const int fileError = errno;
  if (unlinkat(at, name, AT_REMOVEDIR) == 0) return 0;
  return errno == ENOTDIR ? fileError : errno;
}

bool ListFolder(int at, std::vector<std::string>* names) {
  // Listed through a descriptor of its own: the folder's stays where it is.
  const int copy = openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy < 0) return false;
  DIR* folder = fdopendir(copy);
  if (folder == nullptr) {
    const int error = errno;
    close(copy);
    errno = error;
    return false;
  }
  names->clear();
  while (const dirent* entry = readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names->emplace_back(entry->d_name);
  }
  closedir(folder);
  return true;
}

}  // namespace store
}  // namespace hostkit
}  // namespace orvex
