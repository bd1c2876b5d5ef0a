#include "StoreFolders.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

namespace orvex {
namespace testing {

namespace fs = std::filesystem;

std::vector<unsigned char> RandomPayload(int serial, std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(serial));
  std::vector<unsigned char> bytes(size);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
  return bytes;
}

uint64_t DiskUsage(const fs::path& folder) {
  uint64_t bytes = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    struct stat info;
    if (lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) bytes += static_cast<uint64_t>(info.st_blocks) * 512;
  }
  return bytes;
}

uint64_t EntryUsage(const fs::path& store) {
  uint64_t bytes = 0;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(store, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    const bool counted = it->path().extension() == ".entry" || it->path().extension() == ".record" ||
                         name.find(".tmp.") != std::string::npos;
    struct stat info;
    if (counted && lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      bytes += static_cast<uint64_t>(info.st_blocks) * 512;
    }
  }
  return bytes;
}

uint64_t CountedBySizeFiles(const fs::path& store) {
  uint64_t counted = 0;
  for (const char digit : std::string("0123456789abcdef")) {
    std::ifstream in(store / std::string(1, digit) / "size");
    unsigned long long bytes = 0;
    if (in >> bytes) counted += bytes;
  }
  return counted;
}

std::map<std::string, std::string> FilesUnder(const fs::path& folder) {
  std::map<std::string, std::string> files;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    if (!it->is_regular_file() || it->is_symlink()) continue;
    std::ifstream in(it->path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    files[fs::relative(it->path(), folder).string()] = bytes.str();
  }
  return files;
}

namespace {

// Runs an account command, again while another one holds the account files' lock (exit
// codes 1 and 10 of useradd, userdel, groupadd and groupdel).
bool Account(const std::string& command) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int status = std::system((command + " >/dev/null 2>&1").c_str());
    if (status == 0) return true;
    if (!WIFEXITED(status) || (WEXITSTATUS(status) != 1 && WEXITSTATUS(status) != 10)) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

}  // namespace

TestUser::TestUser(const std::string& tag, const std::string& group) {
  if (geteuid() != 0) {
    m_why = "making a user for the test needs root";
    return;
  }
  m_name = "osc" + std::to_string(getpid()) + tag;
  m_group = group;
  if (m_group.empty()) {
    m_group = m_name;
    if (!Account("groupadd " + m_group)) {
      m_why = "groupadd " + m_group + " failed";
      return;
    }
    m_ownGroup = true;
  }
  if (!Account("useradd -M -N -s /usr/sbin/nologin -g " + m_group + " " + m_name)) {
    m_why = "useradd " + m_name + " failed";
    return;
  }
  const passwd* user = getpwnam(m_name.c_str());
  const struct group* made = getgrnam(m_group.c_str());
  if (user == nullptr || made == nullptr) {
    m_why = "the user made is not found";
    return;
  }
  m_uid = user->pw_uid;
  m_gid = made->gr_gid;
}

TestUser::~TestUser() {
  if (!m_name.empty() && geteuid() == 0) Account("userdel " + m_name);
  // userdel takes a group named like its user with it.
  if (m_ownGroup && getgrnam(m_group.c_str()) != nullptr) Account("groupdel " + m_group);
}

int RunAs(const TestUser* user, mode_t mask, const std::function<int()>& body) {
  std::fflush(nullptr);
  const pid_t child = fork();
  if (child < 0) return 255;
  if (child == 0) {
    umask(mask);
    if (user != nullptr) {
      const gid_t group = user->Gid();
      if (setgroups(1, &group) != 0 || setgid(group) != 0 || setuid(user->Uid()) != 0) _exit(254);
    }
    const int code = body();
    std::fflush(nullptr);
    _exit(code);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return 255;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

}  // namespace testing
}  // namespace orvex
