// The raw hash function of the family: XXH3-128 written as lower-case hex.
#ifndef ORVEX_IMPROC_GENERATEHASH_H
#define ORVEX_IMPROC_GENERATEHASH_H

#include <orvex/foundation/Export.h>

namespace orvex {

// Number of characters of a hash text (without the terminating NUL).
constexpr int kHashTextLength = 32;

// Writes the hash of `length` bytes at `data` into `out` (at least 64 bytes) as a
// NUL-terminated text of kHashTextLength characters. Returns false, writing nothing,
// when `out` is null or `data` is null with a non-zero length. Thread-safe.
ORVEX_EXPORT bool GenerateHash(const void* data, unsigned int length, char* out);

// Test seam: while a replacement is set, GenerateHash returns what it does instead of
// hashing (so tests can force failures and collisions). Null restores the real function.
typedef bool (*GenerateHashFunction)(const void* data, unsigned int length, char* out);
ORVEX_EXPORT void SetGenerateHashForTesting(GenerateHashFunction replacement);

}  // namespace orvex

#endif
