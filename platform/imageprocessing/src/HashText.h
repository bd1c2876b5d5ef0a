// Hex text of a 128-bit hash; private to the image-processing library.
#ifndef ORVEX_IMPROC_HASHTEXT_H
#define ORVEX_IMPROC_HASHTEXT_H

#include <orvex/improc/GenerateHash.h>

#include <xxhash.h>

#include <cstring>

namespace orvex {

// Bytes a hash text needs with its terminating NUL.
constexpr int kHashTextBufferSize = kHashTextLength + 1;

// Writes the canonical (big-endian) bytes of `hash` as 32 lower-case hex digits and a NUL.
inline void WriteHashText(XXH128_hash_t hash, char* out) {
  // The two digits of every byte value, so that each byte is one lookup.
  static const struct DigitPairs {
    char pairs[256][2];
    DigitPairs() {
      static const char kDigits[] = "0123456789abcdef";
      for (int i = 0; i < 256; ++i) {
        pairs[i][0] = kDigits[i >> 4];
        pairs[i][1] = kDigits[i & 0x0f];
      }
    }
  } kDigitPairs;
  XXH128_canonical_t canonical;
  XXH128_canonicalFromHash(&canonical, hash);
  for (int i = 0; i < 16; ++i) std::memcpy(out + 2 * i, kDigitPairs.pairs[canonical.digest[i]], 2);
  out[kHashTextLength] = '\0';
}

}  // namespace orvex

#endif
