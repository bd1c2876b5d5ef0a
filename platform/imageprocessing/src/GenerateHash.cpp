#include <orvex/improc/GenerateHash.h>

#include "HashText.h"

#include <atomic>

namespace orvex {

namespace {

std::atomic<GenerateHashFunction> g_replacement{nullptr};

}  // namespace

bool GenerateHash(const void* data, unsigned int length, char* out) {
  if (GenerateHashFunction replacement = g_replacement.load(std::memory_order_acquire)) {
    return replacement(data, length, out);
  }
  if (out == nullptr || (data == nullptr && length != 0)) return false;
  WriteHashText(XXH3_128bits(data, length), out);
  return true;
}

void SetGenerateHashForTesting(GenerateHashFunction replacement) {
  g_replacement.store(replacement, std::memory_order_release);
}

}  // namespace orvex
