// A store's folder: its tag and its fan-out folders.
#include "StoreFolder.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace orvex {
namespace hostkit {
namespace store {

namespace {

constexpr char kTagName[] = "CACHEDIR.TAG";
constexpr char kSignature[] = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr char kTag[] =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This file is a cache directory tag created by the result store of OrvexStagecache\n"
    "# (the stagecache tool, its host kit and the Python module orvex_stagecache).\n"
    "# For information about cache directory tags, see https://bford.info/cachedir/\n";
// How long a process waits for another one that is making the same folder a store.
constexpr int kTagAttempts = 40;
constexpr auto kTagWait = std::chrono::milliseconds(25);

// Whether the folder holds a tag that starts with the convention's signature line.
bool HasTag(int root) {
  struct stat info;
  const Descriptor tag = OpenRegularAt(root, kTagName, &info);
  char head[sizeof kSignature - 1];
  return tag.IsOpen() && info.st_size >= static_cast<off_t>(sizeof head) && ReadFully(tag.Get(), head, sizeof head) &&
         std::memcmp(head, kSignature, sizeof head) == 0;
}

}  // namespace

std::string FanName(int index) {
  static const char kDigits[] = "0123456789abcdef";
  return std::string(1, kDigits[index & 15]);
}

StoreFolder::StoreFolder(const std::string& path, bool create, uint64_t limitBytes) : m_path(path) {
  if (!OpenRoot(create)) return;
  if (!Marked(create)) return;
  m_isStore = true;
  OpenFans(create, limitBytes);
}

bool StoreFolder::OpenRoot(bool create) {
  // The folder the user named is followed even through a link: it is the user's choice.
  if (create && mkdir(m_path.c_str(), 0777) != 0 && errno != EEXIST) {
    m_problem = m_path + " cannot be made a result store: " + std::strerror(errno);
    return false;
  }
  m_root = OpenFolderAt(AT_FDCWD, m_path.c_str(), true);
  if (!m_root.IsOpen()) {
    m_problem = errno == ENOTDIR   ? m_path + " is not a folder, so it cannot be a result store"
                : errno == ENOENT ? m_path + " does not exist, so it is no result store"
                                  : m_path + " cannot be opened as a result store: " + std::strerror(errno);
    return false;
  }
  return true;
}

bool StoreFolder::Marked(bool create) {
  for (int attempt = 0; attempt < kTagAttempts; ++attempt) {
    if (HasTag(m_root.Get())) return true;
    std::vector<std::string> names;
    if (!ListFolder(m_root.Get(), &names)) {
      m_problem = m_path + " cannot be listed: " + std::strerror(errno);
      return false;
    }
    const bool empty = names.empty();
    const bool tagBeingWritten = names.size() == 1 && names[0] == kTagName;
    if (empty && create) {
      const int error = CreateExclusiveAt(m_root.Get(), kTagName, kTag);
      if (error == 0) return true;
      if (error != EEXIST) {
        m_problem = m_path + " cannot be made a result store: " + std::strerror(error);
        return false;
      }
    } else if (empty) {
      m_problem = m_path + " is empty: it is no result store yet";
      return false;
    } else if (!tagBeingWritten) {
      break;
    }
    std::this_thread::sleep_for(kTagWait);  // another process is making it a store
  }
  m_problem = m_path + " is not a result store: it holds other files and no " + kTagName +
              " (a new store needs a missing or empty folder)";
  return false;
}

void StoreFolder::OpenFans(bool create, uint64_t limitBytes) {
  for (int index = 0; index < kFans; ++index) {
    const std::string name = FanName(index);
    if (create) MakeFolderAt(m_root.Get(), name.c_str());
    Descriptor fan = OpenFolderAt(m_root.Get(), name.c_str());
    if (!fan.IsOpen()) {
      // A missing folder is only empty (a store made read-only before it was used);
      // anything else there is not entered.
      if (errno != ENOENT) {
        m_fanProblems.push_back(m_path + "/" + name + (errno == ELOOP || errno == ENOTDIR
                                                           ? " is not a plain folder (a link or a file); left alone"
                                                           : " cannot be opened: " + std::string(std::strerror(errno))));
      }
      continue;
    }
    m_fans[static_cast<std::size_t>(index)].reset(new FanFolder(std::move(fan), m_path + "/" + name, limitBytes / kFans));
  }
}

}  // namespace store
}  // namespace hostkit
}  // namespace orvex
