// The store's key: entries written with it carry an HMAC-SHA256 tag over their header
// and stored bytes (OpenSSL's libcrypto), and a store that holds the key serves only
// entries whose tag it can verify.
#ifndef ORVEX_HOSTKIT_STORE_ENTRYTAG_H
#define ORVEX_HOSTKIT_STORE_ENTRYTAG_H

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace orvex {
namespace hostkit {
namespace store {

constexpr std::size_t kTagBytes = 32;

// An HMAC-SHA256 key, ready to tag. Thread-safe: Tag may be called from any thread.
class EntryKey {
 public:
  // Throws std::runtime_error when libcrypto cannot set the key up.
  explicit EntryKey(const std::string& key);
  ~EntryKey();
  EntryKey(const EntryKey&) = delete;
  EntryKey& operator=(const EntryKey&) = delete;

  // The tag of `first` followed by `second` into `tag` (kTagBytes); false when libcrypto
  // failed (then nothing verifies and nothing tagged is written).
  bool Tag(std::string_view first, std::string_view second, unsigned char* tag) const;
  // Whether `tag` is the tag of `first` followed by `second`, compared in constant time.
  bool Verify(std::string_view first, std::string_view second, const unsigned char* tag) const;

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
};

}  // namespace store
}  // namespace hostkit
}  // namespace orvex

#endif
