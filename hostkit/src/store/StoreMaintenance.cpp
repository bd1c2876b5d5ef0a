// Looking at, checking and clearing a whole store: what the tool's --store-show,
// --store-check and --store-clear do. Each says what it could not do.
#include <orvex/hostkit/FileResultStore.h>

#include "AtomicFile.h"
#include "EntryFormat.h"
#include "EntryTag.h"
#include "FanFolder.h"
#include "StoreFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <new>

namespace orvex {
namespace hostkit {

namespace {

// Failures to remove files, gathered by folder and reason so that a read-only store of a
// million entries is a few lines, not a million.
class Unremoved {
 public:
  void Add(const std::string& folder, int error) { ++m_counts[folder + ": " + std::strerror(error)]; }
  void Into(std::vector<std::string>* problems) const {
    for (const auto& [where, count] : m_counts) {
      problems->push_back("could not remove " + std::to_string(count) + (count == 1 ? " file in " : " files in ") + where);
    }
  }

 private:
  std::map<std::string, uint64_t> m_counts;
};

// The entry file `name` (open as `descriptor`) checked whole: valid when it holds the
// entry of the key its own name is made of.
store::EntryVerdict CheckEntry(int descriptor, uint64_t size, const std::string& name, int fan, const store::EntryKey* key) {
  store::EntryName found;
  std::vector<unsigned char> payload;
  const store::EntryVerdict verdict = store::ReadEntry(descriptor, size, nullptr, key, &payload, &found);
  if (verdict != store::EntryVerdict::kValid) return verdict;
  // An entry names its own key; the file's name must be that key's, in its own folder.
  const std::string own = store::EntryFileName(found.keyText);
  return own == name && store::FanOfFileName(own) == fan ? verdict : store::EntryVerdict::kDamaged;
}

}  // namespace

StoreContents FileResultStore::Contents(bool check) {
  StoreContents contents;
  if (!m_store->IsStore()) {
    contents.problems.push_back(m_store->Problem());
    return contents;
  }
  contents.problems = m_store->FanProblems();
  Unremoved unremoved;
  for (int index = 0; index < store::kFans; ++index) {
    store::FanFolder* fan = m_store->Fan(index);
    if (fan == nullptr) continue;
    const int64_t counted = fan->Counted();
    if (counted > 0) contents.counted += static_cast<uint64_t>(counted);
    std::vector<std::string> names;
    if (!store::ListFolder(fan->Get(), &names)) {
      contents.problems.push_back("cannot list " + fan->Path() + ": " + std::strerror(errno));
      continue;
    }
    for (const std::string& name : names) {
      struct stat info;
      if (fstatat(fan->Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
      if (store::IsTemporaryName(name)) {
        ++contents.temporary;
        if (S_ISREG(info.st_mode)) contents.bytes += store::DiskBytes(info);
        continue;
      }
      if (!store::IsEntryFileName(name)) continue;
      store::EntryVerdict verdict = store::EntryVerdict::kValid;
      if (!S_ISREG(info.st_mode)) {
        verdict = store::EntryVerdict::kDamaged;  // a folder, a link, a FIFO named like an entry
      } else if (check) {
        try {
          struct stat opened;
          const store::Descriptor file = store::OpenRegularAt(fan->Get(), name.c_str(), &opened);
          verdict = file.IsOpen() ? CheckEntry(file.Get(), static_cast<uint64_t>(opened.st_size), name, index, m_key.get())
                                  : store::EntryVerdict::kDamaged;
        } catch (const std::bad_alloc&) {
          contents.problems.push_back("could not check " + fan->Path() + "/" + name + ": no memory for its payload");
          continue;
        }
      }
      if (verdict == store::EntryVerdict::kOtherVersion) ++contents.otherVersion;
      if (verdict == store::EntryVerdict::kValid || verdict == store::EntryVerdict::kOtherVersion) {
        ++contents.entries;
        contents.bytes += store::DiskBytes(info);
        continue;
      }
      if (!check) {
        contents.problems.push_back(fan->Path() + "/" + name + " is named like an entry but is no file");
        continue;
      }
      const int error = store::RemoveAt(fan->Get(), name.c_str());
      if (error != 0 && S_ISREG(info.st_mode)) {
        unremoved.Add(fan->Path() + " (damaged entries)", error);
        continue;
      }
      if (error != 0) {
        contents.problems.push_back("could not remove " + fan->Path() + "/" + name + ", named like an entry but no file: " +
                                    std::strerror(error));
        continue;
      }
      ++contents.corrupt;
      if (verdict == store::EntryVerdict::kUnverified) ++contents.unverified;
    }
  }
  unremoved.Into(&contents.problems);
  return contents;
}

StoreContents FileResultStore::Clear() {
  StoreContents contents;
  if (!m_store->IsStore()) {
    contents.problems.push_back(m_store->Problem() + "; nothing was removed");
    return contents;
  }
  contents.problems = m_store->FanProblems();
  Unremoved unremoved;
  for (int index = 0; index < store::kFans; ++index) {
    store::FanFolder* fan = m_store->Fan(index);
    if (fan == nullptr) continue;
    std::vector<std::string> names;
    if (!store::ListFolder(fan->Get(), &names)) {
      contents.problems.push_back("cannot list " + fan->Path() + ": " + std::strerror(errno));
      continue;
    }
    for (const std::string& name : names) {
      if (!store::IsEntryFileName(name) && !store::IsTemporaryName(name)) continue;  // the lock, the size, others' files
      struct stat info;
      const bool file = fstatat(fan->Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISDIR(info.st_mode);
      const int error = store::RemoveAt(fan->Get(), name.c_str());
      if (error == 0) {
        ++contents.removed;
      } else if (error != ENOENT && file) {
        unremoved.Add(fan->Path(), error);
      } else if (error != ENOENT) {
        contents.problems.push_back("could not remove " + fan->Path() + "/" + name + ", a folder named like an entry: " +
                                    std::strerror(error));
      }
    }
    // What is left (files that could not be removed) is the folder's size now.
    const store::FanCount left = fan->Count();
    contents.entries += left.entries;
    contents.bytes += left.diskBytes;
    contents.temporary += left.temporary;
    const store::FanReport report = fan->ResetSize(left.diskBytes);
    if (!report.problem.empty()) contents.problems.push_back(report.problem);
  }
  unremoved.Into(&contents.problems);
  return contents;
}

}  // namespace hostkit
}  // namespace orvex
