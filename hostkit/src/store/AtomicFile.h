// Files of a folder that others may write. Every file is opened relative to a descriptor
// of its folder and never through a symbolic link, so a link planted in the folder leads
// nowhere; a file is written whole under a temporary name of this process alone (created
// exclusively) and renamed into place, so a reader sees the old file or the new one.
// Files and folders are created with every permission the umask leaves (and the group of
// a set-group-id folder), so that a group can share them.
#ifndef ORVEX_HOSTKIT_STORE_ATOMICFILE_H
#define ORVEX_HOSTKIT_STORE_ATOMICFILE_H

#include <sys/stat.h>
#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvex {
namespace hostkit {
namespace store {

// An open file descriptor, closed when it goes.
class Descriptor {
 public:
  Descriptor() = default;
  explicit Descriptor(int descriptor) : m_descriptor(descriptor) {}
  ~Descriptor() { Reset(); }
  Descriptor(Descriptor&& other) noexcept : m_descriptor(std::exchange(other.m_descriptor, -1)) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      Reset();
      m_descriptor = std::exchange(other.m_descriptor, -1);
    }
    return *this;
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  int Get() const { return m_descriptor; }
  bool IsOpen() const { return m_descriptor >= 0; }
  void Reset() noexcept;

 private:
  int m_descriptor = -1;
};

// The bytes a file takes on its disk (its blocks), which is what a size limit must count:
// a small file takes a whole block.
uint64_t DiskBytes(const struct stat& info);

// The folder `name` in the folder open as `at`, entered only when it is a folder itself,
// not a link to one; closed (errno set) otherwise. `at` may be AT_FDCWD for a path the
// user named.
Descriptor OpenFolderAt(int at, const char* name, bool followLink = false);

// Makes the folder `name` in `at` (mode 0777 less the umask); true when it exists now.
bool MakeFolderAt(int at, const char* name);

// The regular file `name` in `at`, open for reading without following a link and without
// blocking on a FIFO, its stat in *info; closed (errno EINVAL for a file that is no
// regular file) otherwise.
Descriptor OpenRegularAt(int at, const char* name, struct stat* info);

// Reads `size` bytes from the descriptor's position; false when the file ends first.
bool ReadFully(int descriptor, void* into, std::size_t size);

// A name for a temporary file of `target` that no other process, fork or thread uses:
// "<target>.tmp.<pid>.<serial>.<16 random hex digits>", the pid taken now.
std::string TemporaryName(const std::string& target);

// Whether `name` is a temporary file of this module's making.
bool IsTemporaryName(std::string_view name);

// Writes `parts` as the file `target` in `at`: created exclusively under a temporary name
// (never through a link), written whole, then renamed over `target`. 0, with the bytes
// the file takes on disk in *diskBytes, or the errno of the step that failed (the
// temporary file is then removed); EAGAIN when the temporary file was removed by another
// process before it could be renamed.
int WriteWholeAt(int at, const std::string& target, const iovec* parts, int count, uint64_t* diskBytes);

// Creates the file `name` in `at` exclusively and writes `content` into it: 0 or errno
// (EEXIST when anything, a link too, has that name).
int CreateExclusiveAt(int at, const char* name, std::string_view content);

// Removes `name` from `at`, a file or an empty folder alike: 0 or errno.
int RemoveAt(int at, const char* name);

// The names in the folder open as `at` ("." and ".." left out); false (errno set) when it
// cannot be listed.
bool ListFolder(int at, std::vector<std::string>* names);

}  // namespace store
}  // namespace hostkit
}  // namespace orvex

#endif
