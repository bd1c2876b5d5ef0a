// What the store tests look at from outside a store: the bytes its files take on disk,
// what its size files count, and users and groups made for a test (as root) to share or
// attack a store.
#ifndef ORVEX_TESTS_SUPPORT_STOREFOLDERS_H
#define ORVEX_TESTS_SUPPORT_STOREFOLDERS_H

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace orvex {
namespace testing {

// `size` bytes that no encoding shrinks, the same for the same serial.
std::vector<unsigned char> RandomPayload(int serial, std::size_t size);

// The bytes the regular files under `folder` take on disk (their blocks), links not followed.
uint64_t DiskUsage(const std::filesystem::path& folder);

// The bytes a store's entries, records and temporary files take on disk: what its size
// limit counts.
uint64_t EntryUsage(const std::filesystem::path& store);

// What the size files of a store's sixteen fan-out folders count together.
uint64_t CountedBySizeFiles(const std::filesystem::path& store);

// Every regular file under `folder` with its bytes, by path relative to it.
std::map<std::string, std::string> FilesUnder(const std::filesystem::path& folder);

// A user in a group of its own, made for a test with useradd and groupadd (only as root)
// and removed when it goes. Made() says whether it exists; Why() why not.
class TestUser {
 public:
  // `tag` makes the names unique ("osc<pid><tag>"); `group` is the group to join (made
  // when empty).
  explicit TestUser(const std::string& tag, const std::string& group = std::string());
  ~TestUser();
  TestUser(const TestUser&) = delete;
  TestUser& operator=(const TestUser&) = delete;

  bool Made() const { return m_uid != 0; }
  const std::string& Why() const { return m_why; }
  uid_t Uid() const { return m_uid; }
  gid_t Gid() const { return m_gid; }
  const std::string& Group() const { return m_group; }

 private:
  std::string m_name, m_group, m_why;
  bool m_ownGroup = false;
  uid_t m_uid = 0;
  gid_t m_gid = 0;
};

// Runs `body` in a forked child, as `user` (its group alone) when given, else as this
// process's user, under `mask` as its umask; the child's exit code is what `body`
// returns (255 when it died otherwise).
int RunAs(const TestUser* user, mode_t mask, const std::function<int()>& body);

}  // namespace testing
}  // namespace orvex

#endif
