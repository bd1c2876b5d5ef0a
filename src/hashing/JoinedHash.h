// Hash ids of two texts run together, without building the joined text on the heap.
#ifndef ORVEX_SRC_HASHING_JOINEDHASH_H
#define ORVEX_SRC_HASHING_JOINEDHASH_H

#include <orvex/improc/GenerateHash.h>

#include <charconv>
#include <cstring>
#include <string>

namespace orvex {

// Bytes a primitive hash id needs, terminating NUL included.
constexpr int kPrimitiveIdBufferSize = 64;

// Writes GenerateHashId(a + b) into `out` (kPrimitiveIdBufferSize bytes) and returns its
// length; 0 when hashing failed.
inline size_t HashOfJoined(const std::string& a, const std::string& b, char* out) {
  char joined[256];
  std::string large;
  const size_t length = a.size() + b.size();
  const char* data = joined;
  if (length <= sizeof joined) {
    std::memcpy(joined, a.data(), a.size());
    std::memcpy(joined + a.size(), b.data(), b.size());
  } else {
    large = a + b;
    data = large.data();
  }
  if (!GenerateHash(data, static_cast<unsigned int>(length), out)) return 0;
  out[kPrimitiveIdBufferSize - 1] = '\0';
  return std::strlen(out);
}

// Appends the decimal form of a stage number.
inline void AppendNumber(std::string& text, int value) {
  char digits[12];
  text.append(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
}

}  // namespace orvex

#endif
