// A store's folder: the folder the user named, marked as a store by its CACHEDIR.TAG (the
// Cache Directory Tagging convention that backup tools honour), and its sixteen fan-out
// folders "0" to "f", each entered only when it is a folder itself and not a link.
//
// A folder that is missing or empty becomes a store when it is opened to be used: its
// tag is written first, then its fan-out folders. A folder that holds anything else and
// no tag is not a store, and nothing in it is read, written or removed.
#ifndef ORVEX_HOSTKIT_STORE_STOREFOLDER_H
#define ORVEX_HOSTKIT_STORE_STOREFOLDER_H

#include "AtomicFile.h"
#include "FanFolder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {
namespace store {

constexpr int kFans = 16;

class StoreFolder {
 public:
  // Opens the folder `path`; with `create`, makes it a store when it is missing or empty.
  StoreFolder(const std::string& path, bool create, uint64_t limitBytes);
  StoreFolder(const StoreFolder&) = delete;
  StoreFolder& operator=(const StoreFolder&) = delete;

  // Whether the folder is a store; when not, Problem() says why ("... is not a result
  // store: it holds other files and no CACHEDIR.TAG").
  bool IsStore() const { return m_isStore; }
  const std::string& Problem() const { return m_problem; }
  const std::string& Path() const { return m_path; }
  // The fan-out folder `index`; null when it is missing or not a plain folder.
  FanFolder* Fan(int index) const { return m_fans[static_cast<std::size_t>(index)].get(); }
  // The fan-out folders that could not be entered, each with its reason.
  const std::vector<std::string>& FanProblems() const { return m_fanProblems; }

 private:
  // Opens the root; false (with m_problem) when it is no folder or cannot be had.
  bool OpenRoot(bool create);
  // Whether the root carries a valid tag, making it (and waiting for another process that
  // is making it) when the root is empty and `create`.
  bool Marked(bool create);
  void OpenFans(bool create, uint64_t limitBytes);

  std::string m_path;
  Descriptor m_root;
  bool m_isStore = false;
  std::string m_problem;
  std::array<std::unique_ptr<FanFolder>, kFans> m_fans;
  std::vector<std::string> m_fanProblems;
};

// The name of fan-out folder `index`: one hex digit.
std::string FanName(int index);

}  // namespace store
}  // namespace hostkit
}  // namespace orvex

#endif
