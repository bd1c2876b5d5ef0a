// Hex text of a 128-bit hash; private to the image-processing library.
#ifndef ORVEX_IMPROC_HASHTEXT_H
#define ORVEX_IMPROC_HASHTEXT_H

#include <orvex/improc/GenerateHash.h>

#include <xxhash.h>

namespace orvex {

// Bytes a hash text needs with its terminating NUL.
constexpr int kHashTextBufferSize = kHashTextLength + 1;

// Writes the canonical (big-endian) bytes of `hash` as 32 lower-case hex digits and a NUL.
inline void WriteHashText(XXH128_hash_t hash, char* out) {
  static const char kDigits[] = "0123456789abcdef";
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, hash);
  for (int i = 0; i < 16; ++i) {
    out[2 * i] = kDigits[canonical.digest[i] >> 4];
    out[2 * i + 1] = kDigits[canonical.digest[i] & 0x0f];
  }
  out[kHashTextLength] = '\0';
}

}  // namespace orvex

#endif
