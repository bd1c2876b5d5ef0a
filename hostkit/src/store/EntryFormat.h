// The entry format: one header writer and one reader, used by loads, by the check and by
// the fuzzer alike. An entry file holds, little-endian:
//
//   magic "OSCENTRY" 8 | format version 4 | flags 4 | key length 4 | key text n |
//   stage 4 | code version 4 | encoding 4 | payload size 8 | stored size 8 |
//   stored checksum 8 (XXH3-64 of the stored bytes) |
//   [tag 32: HMAC-SHA256 of every byte above and the stored bytes, when flag 1 is set] |
//   header checksum 8 (XXH3-64 of every byte above) | stored bytes
//
// The reader checks the header checksum before it believes any field, and sizes nothing
// from a field beyond what the file's length and the encoding allow.
#ifndef ORVEX_HOSTKIT_STORE_ENTRYFORMAT_H
#define ORVEX_HOSTKIT_STORE_ENTRYFORMAT_H

#include <orvex/hostkit/FileResultStore.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace orvex {
namespace hostkit {
namespace store {

class EntryKey;

constexpr uint32_t kFormatVersion = 2;
// Key texts longer than this are no key of ours.
constexpr std::size_t kLargestKeyText = 1024;

// What an entry is the result of: its key text, stage and code version.
struct EntryName {
  std::string keyText;
  int stage = 0;
  int codeVersion = 0;
};

enum class EntryVerdict {
  kValid,
  kDamaged,       // fails a check: a miss, to be removed
  kOtherVersion,  // our magic, another format version: a miss, left for its own version
  kUnverified,    // read with a key, and its tag is missing or wrong: a miss, to be removed
};

// The stored bytes of a payload: the payload itself when raw, else encoded into `buffer`
// (a buffer the caller keeps between calls). Empty when the encoder failed.
std::string_view EncodePayload(StoreEncoding encoding, const unsigned char* payload, std::size_t size,
                               std::string& buffer);

// The header of an entry of `name` whose stored bytes are `stored`, `payloadSize` bytes
// once decoded; tagged when `key` is given. False when the tag could not be made.
bool WriteHeader(const EntryName& name, StoreEncoding encoding, uint64_t payloadSize, std::string_view stored,
                 const EntryKey* key, std::string* header);

// Reads the entry file open as `descriptor`, `size` bytes long, from its start. With
// `expected`, the entry must hold that name; without it, the name it holds goes to
// *found. With `key`, its tag must verify. The payload goes to *payload (replacing what
// it held) only when the verdict is kValid. Throws std::bad_alloc only when a payload
// the file's length allows cannot be allocated.
EntryVerdict ReadEntry(int descriptor, uint64_t size, const EntryName* expected, const EntryKey* key,
                       std::vector<unsigned char>* payload, EntryName* found = nullptr);

// The name of the file that holds the entry of `keyText`: the XXH3-128 of the format
// version and the key text in 32 hex digits, then ".record" for a record, else ".entry".
std::string EntryFileName(const std::string& keyText);
// The fan-out folder (0 to 15) of an entry file: its first hex digit.
int FanOfFileName(const std::string& fileName);
// Whether a file name is one EntryFileName gives (an entry or a record of any version).
bool IsEntryFileName(std::string_view name);

// A key text of a host's record rather than a result.
bool IsRecordKeyText(std::string_view keyText);

// Lets a buffer kept from one read to the next go when it is much larger than the last
// read needed, so that a thread keeps no more than its recent reads need.
void KeepNearItsUse(std::vector<char>& buffer) noexcept;

}  // namespace store
}  // namespace hostkit
}  // namespace orvex

#endif
