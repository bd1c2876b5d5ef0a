// PNG decoding: the chunks checked, the image data inflated at once with libdeflate, the
// rows unfiltered and turned into blue-green-red(-alpha) bytes in one pass.
#include "PngDecoder.h"

#include <libdeflate.h>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace orvex {
namespace codecs {

namespace {

constexpr unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

uint32_t BigEndian32(const unsigned char* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}
uint16_t BigEndian16(const unsigned char* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

enum ColourType { kGray = 0, kRgb = 2, kPalette = 3, kGrayAlpha = 4, kRgbAlpha = 6 };

int SamplesPerPixel(int colourType) {
  switch (colourType) {
    case kGray: return 1;
    case kRgb: return 3;
    case kPalette: return 1;
    case kGrayAlpha: return 2;
    default: return 4;
  }
}

bool ValidDepth(int colourType, int depth) {
  switch (colourType) {
    case kGray: return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
    case kPalette: return depth == 1 || depth == 2 || depth == 4 || depth == 8;
    case kRgb:
    case kGrayAlpha:
    case kRgbAlpha: return depth == 8 || depth == 16;
    default: return false;
  }
}

// One of the image's passes: the whole image, or one of the seven of Adam7 interlacing.
struct Pass {
  uint32_t width = 0, height = 0;
  std::size_t rowBytes = 0;  // without the filter byte
  uint32_t startX = 0, startY = 0, stepX = 1, stepY = 1;
};

std::vector<Pass> PassesOf(uint32_t width, uint32_t height, int bitsPerPixel, bool interlaced) {
  static constexpr uint32_t kStartX[7] = {0, 4, 0, 2, 0, 1, 0}, kStartY[7] = {0, 0, 4, 0, 2, 0, 1};
  static constexpr uint32_t kStepX[7] = {8, 8, 4, 4, 2, 2, 1}, kStepY[7] = {8, 8, 8, 4, 4, 2, 2};
  std::vector<Pass> passes;
  for (int p = 0; p < (interlaced ? 7 : 1); ++p) {
    Pass pass;
    if (interlaced) {
      pass.startX = kStartX[p];
      pass.startY = kStartY[p];
      pass.stepX = kStepX[p];
      pass.stepY = kStepY[p];
    }
    pass.width = width > pass.startX ? (width - pass.startX + pass.stepX - 1) / pass.stepX : 0;
    pass.height = height > pass.startY ? (height - pass.startY + pass.stepY - 1) / pass.stepY : 0;
    pass.rowBytes = (static_cast<std::size_t>(pass.width) * bitsPerPixel + 7) / 8;
    if (pass.width > 0 && pass.height > 0) passes.push_back(pass);
  }
  return passes;
}

// The Paeth predictor, without branches: photographs make its choice unpredictable. With
// p = a + b - c, |p - a| = |b - c|, |p - b| = |a - c| and |p - c| = |a + b - 2c|; ties go to
// a, then b.
uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  const int nearer = pb < pa ? b : a;
  return static_cast<uint8_t>(pc < std::min(pa, pb) ? c : nearer);
}

// Undoes a row's filter in place; `above` is the unfiltered row before it (zeros for the
// first). False for an unknown filter type.
bool Unfilter(int filter, unsigned char* row, const unsigned char* above, std::size_t rowBytes, std::size_t bpp) {
  switch (filter) {
    case 0: return true;
    case 1:
      for (std::size_t i = bpp; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + row[i - bpp]);
      return true;
    case 2: {
      // Rows never overlap: said so, the loop is vectorised.
      unsigned char* __restrict out = row;
      const unsigned char* __restrict up = above;
      for (std::size_t i = 0; i < rowBytes; ++i) out[i] = static_cast<uint8_t>(out[i] + up[i]);
      return true;
    }
    case 3:
      for (std::size_t i = 0; i < bpp && i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + (above[i] >> 1));
      for (std::size_t i = bpp; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + ((row[i - bpp] + above[i]) >> 1));
      return true;
    case 4:
      for (std::size_t i = 0; i < bpp && i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + above[i]);
      for (std::size_t i = bpp; i < rowBytes; ++i) row[i] = static_cast<uint8_t>(row[i] + Paeth(row[i - bpp], above[i], above[i - bpp]));
      return true;
    default: return false;
  }
}

// What the header, the palette and the transparency say about turning samples into pixels.
struct Layout {
  uint32_t width = 0, height = 0;
  int depth = 0, colourType = 0;
  bool interlaced = false;
  int outChannels = 3;
  // Palette entries as blue, green, red, alpha; entries past the palette are opaque black.
  std::array<std::array<uint8_t, 4>, 256> palette{};
  bool hasPalette = false;
  // The colour that is transparent (gray in [0], or red, green, blue), in sample units.
  bool hasTransparentColour = false;
  uint16_t transparent[3] = {0, 0, 0};
};

uint8_t To8(uint16_t sample) { return static_cast<uint8_t>((sample + 128u) / 257u); }

// The sample of `depth` bits at index `i` of a row of packed samples of fewer than 8 bits.
uint8_t PackedSample(const unsigned char* row, uint32_t i, int depth) {
  const uint32_t bit = i * depth;
  return static_cast<uint8_t>((row[bit >> 3] >> (8 - depth - (bit & 7))) & ((1 << depth) - 1));
}

// Writes a pass row's pixels to `out`, `step` bytes apart.
void WriteRow(const Layout& layout, const unsigned char* row, uint32_t width, unsigned char* out, std::size_t step) {
  const bool alpha = layout.outChannels == 4;
  switch (layout.colourType) {
    case kGray: {
      const int scale = layout.depth < 8 ? 255 / ((1 << layout.depth) - 1) : 1;
      for (uint32_t x = 0; x < width; ++x, out += step) {
        const uint8_t g = layout.depth == 16 ? To8(BigEndian16(row + 2 * x))
                          : layout.depth == 8 ? row[x]
                                              : static_cast<uint8_t>(PackedSample(row, x, layout.depth) * scale);
        out[0] = out[1] = out[2] = g;
      }
      return;
    }
    case kPalette:
      for (uint32_t x = 0; x < width; ++x, out += step) {
        const std::array<uint8_t, 4>& entry = layout.palette[layout.depth == 8 ? row[x] : PackedSample(row, x, layout.depth)];
        out[0] = entry[0];
        out[1] = entry[1];
        out[2] = entry[2];
        if (alpha) out[3] = entry[3];
      }
      return;
    case kRgb:
      if (layout.depth == 8) {
        for (uint32_t x = 0; x < width; ++x, out += step, row += 3) {
          out[0] = row[2];
          out[1] = row[1];
          out[2] = row[0];
          if (alpha) {
            const bool clear = row[0] == layout.transparent[0] && row[1] == layout.transparent[1] && row[2] == layout.transparent[2];
            out[3] = clear ? 0 : 255;
          }
        }
      } else {
        for (uint32_t x = 0; x < width; ++x, out += step, row += 6) {
          const uint16_t r = BigEndian16(row), g = BigEndian16(row + 2), b = BigEndian16(row + 4);
          out[0] = To8(b);
          out[1] = To8(g);
          out[2] = To8(r);
          if (alpha) out[3] = r == layout.transparent[0] && g == layout.transparent[1] && b == layout.transparent[2] ? 0 : 255;
        }
      }
      return;
    case kGrayAlpha:
      for (uint32_t x = 0; x < width; ++x, out += step) {
        const uint8_t g = layout.depth == 8 ? row[2 * x] : To8(BigEndian16(row + 4 * x));
        out[0] = out[1] = out[2] = g;
        out[3] = layout.depth == 8 ? row[2 * x + 1] : To8(BigEndian16(row + 4 * x + 2));
      }
      return;
    default:
      if (layout.depth == 8) {
        for (uint32_t x = 0; x < width; ++x, out += step, row += 4) {
          out[0] = row[2];
          out[1] = row[1];
          out[2] = row[0];
          out[3] = row[3];
        }
      } else {
        for (uint32_t x = 0; x < width; ++x, out += step, row += 8) {
          out[0] = To8(BigEndian16(row + 4));
          out[1] = To8(BigEndian16(row + 2));
          out[2] = To8(BigEndian16(row));
          out[3] = To8(BigEndian16(row + 6));
        }
      }
      return;
  }
}

// The thread's decompressor, made on first use and kept.
// The OpenCV conversion that turns a whole image of unfiltered rows into the result's
// pixels, or -1 where samples need more than a reordering (other depths, palettes,
// transparency, interlacing): those go row by row through WriteRow.
int WholeImageConversion(const Layout& layout) {
  if (layout.interlaced || layout.depth != 8) return -1;
  switch (layout.colourType) {
    case kGray: return cv::COLOR_GRAY2BGR;
    case kRgb: return layout.hasTransparentColour ? -1 : cv::COLOR_RGB2BGR;
    case kRgbAlpha: return cv::COLOR_RGBA2BGRA;
    default: return -1;
  }
}

// The thread's buffer for inflated image data, kept from one image to the next so that
// neither fresh pages nor zeroing are paid per image; an image larger than 64 MiB of
// samples gets a buffer of its own, freed with `owned`.
unsigned char* InflateBuffer(std::size_t size, std::unique_ptr<unsigned char[]>* owned) {
  constexpr std::size_t kKept = std::size_t(64) << 20;
  if (size > kKept) {
    owned->reset(new unsigned char[size]);
    return owned->get();
  }
  thread_local std::unique_ptr<unsigned char[]> kept;
  thread_local std::size_t keptSize = 0;
  if (keptSize < size) {
    kept.reset();
    keptSize = 0;
    kept.reset(new unsigned char[size]);
    keptSize = size;
  }
  return kept.get();
}

libdeflate_decompressor* Decompressor() {
  struct Free {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
  };
  thread_local std::unique_ptr<libdeflate_decompressor, Free> decompressor;
  if (!decompressor) {
    decompressor.reset(libdeflate_alloc_decompressor());
    if (!decompressor) throw std::bad_alloc();
  }
  return decompressor.get();
}

// Reads the chunks: the layout into *layout and the image data's pieces into *data.
bool ReadChunks(const unsigned char* bytes, std::size_t length, Layout* layout,
                std::vector<std::pair<const unsigned char*, std::size_t>>* data) {
  if (length < 8 || std::memcmp(bytes, kSignature, 8) != 0) return false;
  std::size_t at = 8;
  bool sawHeader = false, sawData = false, dataEnded = false;
  std::size_t paletteEntries = 0;
  while (at + 12 <= length) {
    const uint32_t size = BigEndian32(bytes + at);
    if (size > 0x7fffffffu || size > length - at - 12) return false;
    const unsigned char* type = bytes + at + 4;
    const unsigned char* body = bytes + at + 8;
    const bool critical = (type[0] & 0x20) == 0;
    const bool crcHolds = libdeflate_crc32(0, type, size + 4) == BigEndian32(body + size);
    at += 12 + static_cast<std::size_t>(size);
    if (!crcHolds) {
      if (critical) return false;
      continue;  // a damaged ancillary chunk is passed over
    }
    if (!sawHeader) {
      if (std::memcmp(type, "IHDR", 4) != 0 || size != 13) return false;
      layout->width = BigEndian32(body);
      layout->height = BigEndian32(body + 4);
      layout->depth = body[8];
      layout->colourType = body[9];
      if (layout->width == 0 || layout->height == 0 || layout->width > 0x7fffffffu || layout->height > 0x7fffffffu) return false;
      if (!ValidDepth(layout->colourType, layout->depth) || body[10] != 0 || body[11] != 0 || body[12] > 1) return false;
      layout->interlaced = body[12] == 1;
      sawHeader = true;
      continue;
    }
    if (std::memcmp(type, "IDAT", 4) == 0) {
      if (dataEnded) return false;  // image data must come in one run of chunks
      sawData = true;
      if (size > 0) data->emplace_back(body, size);
      continue;
    }
    if (sawData) dataEnded = true;
    if (std::memcmp(type, "IEND", 4) == 0) break;
    if (std::memcmp(type, "PLTE", 4) == 0) {
      if (sawData || size % 3 != 0 || size == 0 || size / 3 > 256) return false;
      paletteEntries = size / 3;
      layout->palette.fill({0, 0, 0, 255});
      for (std::size_t i = 0; i < paletteEntries; ++i) {
        layout->palette[i] = {body[3 * i + 2], body[3 * i + 1], body[3 * i], 255};
      }
      layout->hasPalette = true;
      continue;
    }
    if (std::memcmp(type, "tRNS", 4) == 0) {
      if (sawData) continue;
      if (layout->colourType == kPalette && layout->hasPalette && size > 0 && size <= paletteEntries) {
        for (std::size_t i = 0; i < size; ++i) layout->palette[i][3] = body[i];
        layout->outChannels = 4;
      } else if (layout->colourType == kRgb && size == 6) {
        for (int c = 0; c < 3; ++c) layout->transparent[c] = BigEndian16(body + 2 * c);
        layout->hasTransparentColour = true;
        layout->outChannels = 4;
      }
      continue;  // gray transparency gives no alpha; others are not valid
    }
    if (critical) return false;  // a critical chunk this decoder does not know
  }
  if (!sawHeader || !sawData) return false;
  if (layout->colourType == kPalette && !layout->hasPalette) return false;
  if (layout->colourType == kGrayAlpha || layout->colourType == kRgbAlpha) layout->outChannels = 4;
  return true;
}

}  // namespace

cv::Mat DecodePng(const unsigned char* bytes, std::size_t length, int64_t maxPixels) {
  Layout layout;
  std::vector<std::pair<const unsigned char*, std::size_t>> pieces;
  if (!ReadChunks(bytes, length, &layout, &pieces)) return cv::Mat();
  if (static_cast<int64_t>(layout.width) * layout.height > maxPixels) return cv::Mat();

  const int bitsPerPixel = SamplesPerPixel(layout.colourType) * layout.depth;
  const std::size_t filterBpp = static_cast<std::size_t>(bitsPerPixel >= 8 ? bitsPerPixel / 8 : 1);
  const std::vector<Pass> passes = PassesOf(layout.width, layout.height, bitsPerPixel, layout.interlaced);
  std::size_t rawSize = 0;
  for (const Pass& pass : passes) rawSize += (pass.rowBytes + 1) * pass.height;

  // The image data inflated at once, from one piece where it is one chunk.
  std::vector<unsigned char> joined;
  const unsigned char* compressed = pieces.front().first;
  std::size_t compressedSize = pieces.front().second;
  if (pieces.size() > 1) {
    std::size_t total = 0;
    for (const auto& piece : pieces) total += piece.second;
    joined.reserve(total);
    for (const auto& piece : pieces) joined.insert(joined.end(), piece.first, piece.first + piece.second);
    compressed = joined.data();
    compressedSize = joined.size();
  }
  std::unique_ptr<unsigned char[]> ownBuffer;
  unsigned char* const raw = InflateBuffer(rawSize, &ownBuffer);
  std::size_t inflated = 0;
  if (libdeflate_zlib_decompress(Decompressor(), compressed, compressedSize, raw, rawSize, &inflated) !=
          LIBDEFLATE_SUCCESS ||
      inflated != rawSize) {
    return cv::Mat();
  }
  std::vector<unsigned char>().swap(joined);

  cv::Mat image(static_cast<int>(layout.height), static_cast<int>(layout.width), CV_8UC(layout.outChannels));
  const int conversion = WholeImageConversion(layout);
  std::vector<unsigned char> zeros;
  unsigned char* at = raw;
  for (const Pass& pass : passes) {
    if (zeros.size() < pass.rowBytes) zeros.assign(pass.rowBytes, 0);
    const unsigned char* above = zeros.data();
    for (uint32_t y = 0; y < pass.height; ++y) {
      unsigned char* row = at + 1;
      if (!Unfilter(at[0], row, above, pass.rowBytes, filterBpp)) return cv::Mat();
      if (conversion < 0) {
        unsigned char* out = image.ptr(static_cast<int>(pass.startY + y * pass.stepY)) + pass.startX * layout.outChannels;
        WriteRow(layout, row, pass.width, out, static_cast<std::size_t>(pass.stepX) * layout.outChannels);
      }
      above = row;
      at += pass.rowBytes + 1;
    }
  }
  if (conversion >= 0) {
    // The unfiltered rows, each after its filter byte, as one image of the file's samples.
    const cv::Mat samples(image.rows, image.cols, CV_8UC(SamplesPerPixel(layout.colourType)), raw + 1,
                          passes.front().rowBytes + 1);
    cv::cvtColor(samples, image, conversion);
  }
  return image;
}

}  // namespace codecs
}  // namespace orvex
