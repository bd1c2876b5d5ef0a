#include "ImageFileFormat.h"

#include <cstring>

namespace orvex {
namespace imagefile {

namespace {

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

uint16_t BigEndian16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// PNG: the signature, IHDR first, then chunk after chunk (length, type, data, CRC) up to IEND.
Header InspectPng(const unsigned char* data, size_t length) {
  Header header;
  header.format = Format::kPng;
  size_t at = 8;
  bool first = true;
  while (at + 12 <= length) {
    const uint32_t chunkLength = BigEndian32(data + at);
    const unsigned char* type = data + at + 4;
    if (chunkLength > 0x7fffffffu || chunkLength > length - at - 12) return header;  // runs past the end
    if (first) {
      if (std::memcmp(type, "IHDR", 4) != 0 || chunkLength < 8) return header;
      header.width = BigEndian32(data + at + 8);
      header.height = BigEndian32(data + at + 12);
      first = false;
    }
    if (std::memcmp(type, "IEND", 4) == 0) {
      header.complete = true;
      return header;
    }
    at += 12 + static_cast<size_t>(chunkLength);
  }
  return header;
}

// JPEG: markers and their segments; after each start of scan the entropy-coded data runs
// to the next marker that is neither a stuffed byte nor a restart marker.
Header InspectJpeg(const unsigned char* data, size_t length) {
  Header header;
  header.format = Format::kJpeg;
  size_t at = 2;
  while (at < length) {
    if (data[at] != 0xFF) return header;
    while (at < length && data[at] == 0xFF) ++at;  // fill bytes
    if (at >= length) return header;
    const unsigned char marker = data[at++];
    if (marker == 0xD9) {
      header.complete = header.width > 0 && header.height > 0;
      return header;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;  // no segment follows
    if (at + 2 > length) return header;
    const size_t segment = BigEndian16(data + at);
    if (segment < 2 || segment > length - at) return header;
    const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (frame) {
      if (segment < 7) return header;
      header.height = BigEndian16(data + at + 3);
      header.width = BigEndian16(data + at + 5);
    }
    at += segment;
    if (marker != 0xDA) continue;
    // The scan's data: up to a marker byte that ends it.
    while (at + 1 < length && !(data[at] == 0xFF && data[at + 1] != 0x00 && (data[at + 1] < 0xD0 || data[at + 1] > 0xD7))) {
      ++at;
    }
    if (at + 1 >= length) return header;
  }
  return header;
}

}  // namespace

Header Inspect(const unsigned char* data, size_t length) {
  static const unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (data != nullptr && length >= 8 && std::memcmp(data, kPngSignature, 8) == 0) return InspectPng(data, length);
  if (data != nullptr && length >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
    return InspectJpeg(data, length);
  }
  return Header();
}

}  // namespace imagefile
}  // namespace orvex
