// The library's own decoders give the pixels, and so the ids, that OpenCV's decoder gave
// before them, for every kind of PNG and JPEG the tool reads; the PNG decoder agrees with
// libspng on every image; the encoders write what the decoders read back.
#include <OrvexStagecacheHost.h>
#include <orvex/improc/ImageCodecs.h>

#include "../support/Photographs.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <spng.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace {

using Bytes = std::vector<unsigned char>;

// What OpenCV's decoder gives, as the library read files before its own decoders.
cv::Mat OpenCvDecode(const unsigned char* bytes, size_t length, int mode) {
  const cv::Mat encoded(1, static_cast<int>(length), CV_8UC1, const_cast<unsigned char*>(bytes));
  return cv::imdecode(encoded, mode == QZLM_GRAYSCALE ? cv::IMREAD_GRAYSCALE : cv::IMREAD_UNCHANGED);
}

cv::Mat Decode(const Bytes& bytes, bool withOpenCv) {
  QZMatrix::SetDecoderForComparison(withOpenCv ? &OpenCvDecode : nullptr);
  int error = 0;
  std::unique_ptr<QZMatrix> matrix(QZMatrix::DecodeImageBytes(bytes.data(), bytes.size(), &error, QZLM_COLOUR));
  QZMatrix::SetDecoderForComparison(nullptr);
  return matrix ? matrix->GetMat() : cv::Mat();
}

std::string IdOf(const cv::Mat& pixels) {
  QZMatrix matrix(pixels);
  return SourceImageHashId(matrix);
}

// Holds the library's decoding of `bytes` to OpenCV's: the same pixels, the same id.
void ExpectSameAsOpenCv(const Bytes& bytes, const std::string& what) {
  const cv::Mat ours = Decode(bytes, false), theirs = Decode(bytes, true);
  ASSERT_FALSE(theirs.empty()) << what << ": OpenCV refuses it";
  ASSERT_FALSE(ours.empty()) << what << ": the library refuses it";
  ASSERT_EQ(ours.type(), theirs.type()) << what;
  ASSERT_EQ(ours.size(), theirs.size()) << what;
  EXPECT_EQ(cv::norm(ours, theirs, cv::NORM_INF), 0) << what;
  EXPECT_EQ(IdOf(ours), IdOf(theirs)) << what;
}

// --- PNG files of every kind, written sample by sample ------------------------------------------

struct PngKind {
  int colourType;
  int depth;
  bool interlaced;
  bool transparency;
};

void PutBigEndian32(Bytes& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutChunk(Bytes& out, const char* type, const Bytes& data) {
  PutBigEndian32(out, static_cast<uint32_t>(data.size()));
  const size_t at = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBigEndian32(out, libdeflate_crc32(0, out.data() + at, data.size() + 4));
}

int SamplesOf(int colourType) { return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1; }

// A PNG of `kind` with random samples (a palette of `paletteSize` entries, by default one
// for every index), every row under a random filter, the image data split over several
// IDAT chunks.
Bytes RandomPng(const PngKind& kind, int width, int height, std::mt19937& random, int paletteSize = 0) {
  const int bitsPerPixel = SamplesOf(kind.colourType) * kind.depth;
  const int maxValue = kind.depth == 16 ? 65535 : (1 << kind.depth) - 1;
  if (paletteSize == 0) paletteSize = 1 << std::min(kind.depth, 8);
  // Samples first, so that tRNS can name a colour the image holds.
  std::vector<std::vector<uint32_t>> samples(height, std::vector<uint32_t>(static_cast<size_t>(width) * SamplesOf(kind.colourType)));
  for (auto& row : samples)
    for (uint32_t& s : row) s = std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(maxValue))(random);
  if (kind.transparency && kind.colourType == 2 && width > 1) {
    for (int c = 0; c < 3; ++c) samples[0][3 + c] = samples[0][c];  // two pixels of the transparent colour
  }
  const auto rowBytes = [&](int w) { return (static_cast<size_t>(w) * bitsPerPixel + 7) / 8; };
  // Serialised rows of a pass, before filtering.
  const auto packRow = [&](int y, int startX, int stepX, int w) {
    Bytes row(rowBytes(w), 0);
    for (int i = 0; i < w; ++i) {
      const int x = startX + i * stepX;
      for (int s = 0; s < SamplesOf(kind.colourType); ++s) {
        const uint32_t v = samples[y][static_cast<size_t>(x) * SamplesOf(kind.colourType) + s];
        const size_t index = static_cast<size_t>(i) * SamplesOf(kind.colourType) + s;
        if (kind.depth == 16) {
          row[2 * index] = static_cast<unsigned char>(v >> 8);
          row[2 * index + 1] = static_cast<unsigned char>(v);
        } else if (kind.depth == 8) {
          row[index] = static_cast<unsigned char>(v);
        } else {
          const size_t bit = index * kind.depth;
          row[bit / 8] |= static_cast<unsigned char>(v << (8 - kind.depth - bit % 8));
        }
      }
    }
    return row;
  };
  const int bpp = std::max(1, bitsPerPixel / 8);
  Bytes raw;
  const auto addPass = [&](int startX, int startY, int stepX, int stepY) {
    const int w = width > startX ? (width - startX + stepX - 1) / stepX : 0;
    const int h = height > startY ? (height - startY + stepY - 1) / stepY : 0;
    if (w == 0 || h == 0) return;
    Bytes above(rowBytes(w), 0);
    for (int j = 0; j < h; ++j) {
      const Bytes row = packRow(startY + j * stepY, startX, stepX, w);
      const int filter = std::uniform_int_distribution<int>(0, 4)(random);
      raw.push_back(static_cast<unsigned char>(filter));
      for (size_t i = 0; i < row.size(); ++i) {
        const int a = i >= static_cast<size_t>(bpp) ? row[i - bpp] : 0, b = above[i],
                  c = i >= static_cast<size_t>(bpp) ? above[i - bpp] : 0;
        int predicted = 0;
        if (filter == 1) predicted = a;
        if (filter == 2) predicted = b;
        if (filter == 3) predicted = (a + b) / 2;
        if (filter == 4) {
          const int p = a + b - c, pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
          predicted = pa <= pb && pa <= pc ? a : pb <= pc ? b : c;
        }
        raw.push_back(static_cast<unsigned char>(row[i] - predicted));
      }
      above = row;
    }
  };
  if (kind.interlaced) {
    const int sx[7] = {0, 4, 0, 2, 0, 1, 0}, sy[7] = {0, 0, 4, 0, 2, 0, 1}, dx[7] = {8, 8, 4, 4, 2, 2, 1},
              dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) addPass(sx[p], sy[p], dx[p], dy[p]);
  } else {
    addPass(0, 0, 1, 1);
  }
  std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(libdeflate_alloc_compressor(6),
                                                                                     libdeflate_free_compressor);
  Bytes compressed(libdeflate_zlib_compress_bound(compressor.get(), raw.size()));
  compressed.resize(libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size(), compressed.data(), compressed.size()));

  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes header;
  PutBigEndian32(header, static_cast<uint32_t>(width));
  PutBigEndian32(header, static_cast<uint32_t>(height));
  header.insert(header.end(), {static_cast<unsigned char>(kind.depth), static_cast<unsigned char>(kind.colourType), 0, 0,
                               static_cast<unsigned char>(kind.interlaced ? 1 : 0)});
  PutChunk(png, "IHDR", header);
  if (kind.colourType == 3) {
    Bytes palette;
    for (int i = 0; i < 3 * paletteSize; ++i) palette.push_back(static_cast<unsigned char>(random()));
    PutChunk(png, "PLTE", palette);
  }
  if (kind.transparency) {
    Bytes transparency;
    if (kind.colourType == 3) {
      for (int i = 0; i < paletteSize / 2; ++i) transparency.push_back(static_cast<unsigned char>(random()));
    } else {
      for (int c = 0; c < (kind.colourType == 0 ? 1 : 3); ++c) {
        const uint32_t v = samples[0][c];
        transparency.push_back(static_cast<unsigned char>(v >> 8));
        transparency.push_back(static_cast<unsigned char>(v));
      }
    }
    PutChunk(png, "tRNS", transparency);
  }
  // The image data over chunks of a third each.
  const size_t third = compressed.size() / 3 + 1;
  for (size_t at = 0; at < compressed.size(); at += third) {
    PutChunk(png, "IDAT", Bytes(compressed.begin() + at, compressed.begin() + std::min(compressed.size(), at + third)));
  }
  PutChunk(png, "IEND", Bytes());
  return png;
}

std::vector<PngKind> EveryPngKind() {
  std::vector<PngKind> kinds;
  const std::vector<std::pair<int, std::vector<int>>> depths = {
      {0, {1, 2, 4, 8, 16}}, {2, {8, 16}}, {3, {1, 2, 4, 8}}, {4, {8, 16}}, {6, {8, 16}}};
  for (const auto& [colourType, list] : depths)
    for (int depth : list)
      for (bool interlaced : {false, true})
        for (bool transparency : {false, true}) {
          if (transparency && (colourType == 4 || colourType == 6)) continue;  // alpha already
          kinds.push_back({colourType, depth, interlaced, transparency});
        }
  return kinds;
}

std::string Describe(const PngKind& kind, int width, int height) {
  return "colour type " + std::to_string(kind.colourType) + ", " + std::to_string(kind.depth) + " bits" +
         (kind.interlaced ? ", interlaced" : "") + (kind.transparency ? ", tRNS" : "") + ", " + std::to_string(width) +
         " x " + std::to_string(height);
}

// libspng's decoding brought to the library's layout: blue-green-red, alpha where the
// image has an alpha channel or a colour or palette tRNS, 16-bit samples rounded.
cv::Mat SpngDecode(const Bytes& bytes) {
  std::unique_ptr<spng_ctx, void (*)(spng_ctx*)> context(spng_ctx_new(0), spng_ctx_free);
  spng_set_png_buffer(context.get(), bytes.data(), bytes.size());
  spng_ihdr header;
  if (spng_get_ihdr(context.get(), &header) != 0) return cv::Mat();
  spng_trns transparency;
  const bool colourTrns = header.color_type != 0 && spng_get_trns(context.get(), &transparency) == 0;
  const bool alpha = header.color_type == 4 || header.color_type == 6 || colourTrns;
  const bool sixteen = header.bit_depth == 16;
  const int format = sixteen ? SPNG_FMT_RGBA16 : SPNG_FMT_RGBA8;
  size_t size = 0;
  if (spng_decoded_image_size(context.get(), format, &size) != 0) return cv::Mat();
  std::vector<unsigned char> rgba(size);
  if (spng_decode_image(context.get(), rgba.data(), size, format, alpha ? SPNG_DECODE_TRNS : 0) != 0) return cv::Mat();
  cv::Mat out(static_cast<int>(header.height), static_cast<int>(header.width), CV_8UC(alpha ? 4 : 3));
  for (int y = 0; y < out.rows; ++y) {
    for (int x = 0; x < out.cols; ++x) {
      const size_t index = (static_cast<size_t>(y) * out.cols + x) * 4;
      uint8_t v[4];
      for (int c = 0; c < 4; ++c) {
        if (sixteen) {
          uint16_t s;
          std::memcpy(&s, &rgba[2 * (index + c)], 2);
          v[c] = static_cast<uint8_t>((s + 128u) / 257u);
        } else {
          v[c] = rgba[index + c];
        }
      }
      unsigned char* pixel = out.ptr(y) + static_cast<size_t>(x) * out.channels();
      pixel[0] = v[2];
      pixel[1] = v[1];
      pixel[2] = v[0];
      if (alpha) pixel[3] = v[3];
    }
  }
  return out;
}

TEST(ImageDecoding, EveryKindOfPngGivesOpenCvsPixelsAndIdAndAgreesWithLibspng) {
  std::mt19937 random(20261209);
  for (const PngKind& kind : EveryPngKind()) {
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(9, 7), cv::Size(37, 21)}) {
      const Bytes png = RandomPng(kind, size.width, size.height, random);
      const std::string what = Describe(kind, size.width, size.height);
      ExpectSameAsOpenCv(png, what);
      const cv::Mat spng = SpngDecode(png);
      ASSERT_FALSE(spng.empty()) << what;
      EXPECT_EQ(cv::norm(Decode(png, false), spng, cv::NORM_INF), 0) << what << " (against libspng)";
    }
  }
}

TEST(ImageDecoding, PalettePixelsPastThePaletteAreOpenCvsToo) {
  std::mt19937 random(7);
  // Indices up to 15 over a palette of 4 entries, with and without transparency.
  for (const bool transparency : {false, true}) {
    Bytes png = RandomPng({3, 4, false, transparency}, 16, 8, random, 4);
    ExpectSameAsOpenCv(png, transparency ? "short palette, tRNS" : "short palette");
  }
}

// --- JPEG files of every kind ---------------------------------------------------------------------

Bytes CompressJpeg(const cv::Mat& image, int pixelFormat, int subsampling, int flags) {
  std::unique_ptr<void, int (*)(void*)> handle(tjInitCompress(), tjDestroy);
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  EXPECT_EQ(tjCompress2(handle.get(), image.data, image.cols, static_cast<int>(image.step), image.rows, pixelFormat, &jpeg,
                        &size, subsampling, 85, flags),
            0);
  Bytes bytes(jpeg, jpeg + size);
  tjFree(jpeg);
  return bytes;
}

// The JPEG with an EXIF segment that says the picture is turned (orientation 6).
Bytes WithExifOrientation(const Bytes& jpeg) {
  const Bytes exif = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0,  // APP1, length 34
                      'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,      // big-endian TIFF header
                      0x00, 0x01,                                          // one entry
                      0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00,  // orientation 6
                      0x00, 0x00, 0x00, 0x00};
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), exif.begin(), exif.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

TEST(ImageDecoding, EveryKindOfJpegGivesOpenCvsPixelsAndId) {
  cv::Mat colour(61, 83, CV_8UC3);
  cv::randu(colour, 0, 256);
  cv::GaussianBlur(colour, colour, cv::Size(5, 5), 0);
  cv::Mat gray;
  cv::cvtColor(colour, gray, cv::COLOR_BGR2GRAY);
  cv::Mat cmyk(colour.size(), CV_8UC4);
  cv::randu(cmyk, 0, 256);
  const Bytes baseline = CompressJpeg(colour, TJPF_BGR, TJSAMP_420, 0);
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"baseline 4:2:0", baseline},
      {"baseline 4:4:4", CompressJpeg(colour, TJPF_BGR, TJSAMP_444, 0)},
      {"baseline 4:2:2", CompressJpeg(colour, TJPF_BGR, TJSAMP_422, 0)},
      {"progressive", CompressJpeg(colour, TJPF_BGR, TJSAMP_420, TJFLAG_PROGRESSIVE)},
      {"grayscale", CompressJpeg(gray, TJPF_GRAY, TJSAMP_GRAY, 0)},
      {"CMYK", CompressJpeg(cmyk, TJPF_CMYK, TJSAMP_444, 0)},
      {"EXIF orientation 6", WithExifOrientation(baseline)},
  };
  for (const auto& [what, bytes] : files) ExpectSameAsOpenCv(bytes, what);
  // The orientation is not applied: the turned picture has the pixels of the plain one.
  EXPECT_EQ(cv::norm(Decode(files.back().second, false), Decode(baseline, false), cv::NORM_INF), 0);
}

TEST(ImageDecoding, EveryPhotographAndScanGivesOpenCvsPixelsAndId) {
  for (const char* name : {"astronaut.png", "camera.png", "chelsea.png", "coffee.png", "logo.png", "horse.png",
                           "green_palette.png", "palette_color.png", "palette_gray.png", "chessboard_RGB.png",
                           "chessboard_GRAY.png", "checker_bilevel.png", "page.png", "text.png", "motorcycle_left.png",
                           "hubble_deep_field.jpg", "retina.jpg", "rocket.jpg"}) {
    const std::string path = testing::PhotographPath(name);
    std::ifstream in(path, std::ios::binary);
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(bytes.empty()) << path;
    ExpectSameAsOpenCv(bytes, name);
    if (std::string(name).find(".png") != std::string::npos) {
      EXPECT_EQ(cv::norm(Decode(bytes, false), SpngDecode(bytes), cv::NORM_INF), 0) << name << " (against libspng)";
    }
  }
}

TEST(ImageDecoding, WhatTheEncodersWriteTheDecodersReadBack) {
  cv::Mat colour(45, 67, CV_8UC3), alpha(45, 67, CV_8UC4), gray(45, 67, CV_8UC1);
  cv::randu(colour, 0, 256);
  cv::randu(alpha, 0, 256);
  cv::randu(gray, 0, 256);
  Bytes png;
  ASSERT_TRUE(EncodePng(colour, &png));
  EXPECT_EQ(cv::norm(Decode(png, false), colour, cv::NORM_INF), 0);
  EXPECT_EQ(cv::norm(SpngDecode(png), colour, cv::NORM_INF), 0) << "libspng reads the file";
  ASSERT_TRUE(EncodePng(alpha, &png));
  EXPECT_EQ(cv::norm(Decode(png, false), alpha, cv::NORM_INF), 0);
  ASSERT_TRUE(EncodePng(gray, &png));
  cv::Mat grayAsColour;
  cv::cvtColor(gray, grayAsColour, cv::COLOR_GRAY2BGR);
  EXPECT_EQ(cv::norm(Decode(png, false), grayAsColour, cv::NORM_INF), 0);
  Bytes jpeg;
  ASSERT_TRUE(EncodeJpeg(colour, 90, &jpeg));
  const cv::Mat decoded = Decode(jpeg, false);
  ASSERT_EQ(decoded.size(), colour.size());
  EXPECT_FALSE(EncodePng(cv::Mat(4, 4, CV_16UC1), &png));
  EXPECT_FALSE(EncodeJpeg(colour, 0, &jpeg));
}

// Each thread keeps its own inflate buffer and decompressors: eight threads decoding
// images of every kind and of growing and shrinking sizes, in orders of their own, get
// what one thread alone gets.
TEST(ImageDecoding, EightThreadsDecodingAtOnceGetWhatOneThreadGets) {
  std::mt19937 random(7);
  std::vector<Bytes> files;
  for (const PngKind& kind : EveryPngKind()) {
    if (kind.depth != 8) continue;
    for (const cv::Size size : {cv::Size(5, 3), cv::Size(640, 480), cv::Size(33, 900)})
      files.push_back(RandomPng(kind, size.width, size.height, random));
  }
  cv::Mat colour(300, 400, CV_8UC3);
  cv::randu(colour, 0, 256);
  Bytes jpeg;
  ASSERT_TRUE(EncodeJpeg(colour, 85, &jpeg));
  files.push_back(jpeg);
  const auto decode = [](const Bytes& bytes) {
    int error = 0;
    std::unique_ptr<QZMatrix> matrix(QZMatrix::DecodeImageBytes(bytes.data(), bytes.size(), &error, QZLM_COLOUR));
    return matrix ? matrix->GetMat() : cv::Mat();
  };
  std::vector<cv::Mat> alone;
  for (const Bytes& bytes : files) {
    alone.push_back(decode(bytes));
    ASSERT_FALSE(alone.back().empty());
  }
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::vector<size_t> order(files.size());
      for (size_t i = 0; i < order.size(); ++i) order[i] = i;
      std::shuffle(order.begin(), order.end(), std::mt19937(static_cast<unsigned>(t)));
      for (int round = 0; round < 3; ++round) {
        for (size_t i : order) {
          const cv::Mat pixels = decode(files[i]);
          if (pixels.size() != alone[i].size() || pixels.type() != alone[i].type() ||
              cv::norm(pixels, alone[i], cv::NORM_INF) != 0) {
            ++mismatches[t];
          }
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < 8; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

}  // namespace
}  // namespace orvex
