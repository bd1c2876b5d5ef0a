#include <orvex/improc/GenerateHash.h>

#include "HashText.h"

namespace orvex {

bool GenerateHash(const void* data, unsigned int length, char* out) {
  if (out == nullptr || (data == nullptr && length != 0)) return false;
  WriteHashText(XXH3_128bits(data, length), out);
  return true;
}

}  // namespace orvex
