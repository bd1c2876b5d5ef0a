// What an image file's bytes say before any pixel is decoded: its format, its size, and
// whether its structure is complete. Private to the image-processing library.
#ifndef ORVEX_IMPROC_IMAGEFILEFORMAT_H
#define ORVEX_IMPROC_IMAGEFILEFORMAT_H

#include <cstddef>
#include <cstdint>

namespace orvex {
namespace imagefile {

enum class Format { kUnknown, kPng, kJpeg };

struct Header {
  Format format = Format::kUnknown;
  int64_t width = 0;
  int64_t height = 0;
  // The structure runs to its end: PNG chunks up to IEND, JPEG segments and scans up to
  // the end marker. Bytes after the end do not matter.
  bool complete = false;
};

// Reads the header and walks the structure of PNG and JPEG bytes; any other bytes give
// kUnknown. Reads nothing outside [data, data + length).
Header Inspect(const unsigned char* data, size_t length);

}  // namespace imagefile
}  // namespace orvex

#endif
