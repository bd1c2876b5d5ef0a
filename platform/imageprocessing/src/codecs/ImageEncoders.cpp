// PNG files written with libdeflate (one IDAT chunk per 1 GiB, rows filtered "up"), JPEG
// files with the TurboJPEG interface of libjpeg-turbo.
#include <orvex/improc/ImageCodecs.h>

#include <libdeflate.h>
#include <turbojpeg.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace orvex {

namespace {

bool Encodable(const cv::Mat& image) {
  return !image.empty() && image.dims == 2 && image.depth() == CV_8U &&
         (image.channels() == 1 || image.channels() == 3 || image.channels() == 4);
}

void PutBigEndian32(std::vector<unsigned char>& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(value >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char* type, const unsigned char* data, std::size_t size) {
  PutBigEndian32(out, static_cast<uint32_t>(size));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  if (size > 0) out.insert(out.end(), data, data + size);
  PutBigEndian32(out, libdeflate_crc32(0, out.data() + typeAt, size + 4));
}

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};
struct DestroyHandle {
  void operator()(void* handle) const { tjDestroy(handle); }
};

}  // namespace

bool EncodePng(const cv::Mat& image, std::vector<unsigned char>* out) {
  out->clear();
  if (!Encodable(image)) return false;
  const int channels = image.channels();
  const std::size_t rowBytes = static_cast<std::size_t>(image.cols) * channels;
  // Rows in the file's sample order (red first), each after its filter byte.
  std::vector<unsigned char> raw((rowBytes + 1) * image.rows);
  std::vector<unsigned char> previous(rowBytes, 0), current(rowBytes);
  for (int y = 0; y < image.rows; ++y) {
    const unsigned char* in = image.ptr(y);
    if (channels == 1) {
      std::memcpy(current.data(), in, rowBytes);
    } else {
      for (int x = 0; x < image.cols; ++x, in += channels) {
        unsigned char* sample = &current[static_cast<std::size_t>(x) * channels];
        sample[0] = in[2];
        sample[1] = in[1];
        sample[2] = in[0];
        if (channels == 4) sample[3] = in[3];
      }
    }
    unsigned char* row = &raw[y * (rowBytes + 1)];
    row[0] = y == 0 ? 0 : 2;  // none, then "up"
    for (std::size_t i = 0; i < rowBytes; ++i) row[i + 1] = static_cast<unsigned char>(current[i] - previous[i]);
    previous.swap(current);
  }
  thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> compressor;
  if (!compressor) {
    compressor.reset(libdeflate_alloc_compressor(1));
    if (!compressor) throw std::bad_alloc();
  }
  std::vector<unsigned char> compressed(libdeflate_zlib_compress_bound(compressor.get(), raw.size()));
  const std::size_t written = libdeflate_zlib_compress(compressor.get(), raw.data(), raw.size(), compressed.data(), compressed.size());
  if (written == 0) return false;

  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out->reserve(written + 64);
  out->insert(out->end(), kSignature, kSignature + 8);
  unsigned char header[13];
  for (int i = 0; i < 4; ++i) {
    header[i] = static_cast<unsigned char>(static_cast<uint32_t>(image.cols) >> (24 - 8 * i));
    header[4 + i] = static_cast<unsigned char>(static_cast<uint32_t>(image.rows) >> (24 - 8 * i));
  }
  header[8] = 8;
  header[9] = channels == 1 ? 0 : channels == 3 ? 2 : 6;
  header[10] = header[11] = header[12] = 0;
  PutChunk(*out, "IHDR", header, sizeof header);
  constexpr std::size_t kLargestChunk = std::size_t(1) << 30;
  for (std::size_t at = 0; at < written; at += kLargestChunk) {
    PutChunk(*out, "IDAT", compressed.data() + at, std::min(kLargestChunk, written - at));
  }
  PutChunk(*out, "IEND", nullptr, 0);
  return true;
}

bool EncodeJpeg(const cv::Mat& image, int quality, std::vector<unsigned char>* out) {
  out->clear();
  if (!Encodable(image) || quality < 1 || quality > 100) return false;
  thread_local std::unique_ptr<void, DestroyHandle> handle;
  if (!handle) {
    handle.reset(tjInitCompress());
    if (!handle) throw std::bad_alloc();
  }
  const int format = image.channels() == 1 ? TJPF_GRAY : image.channels() == 3 ? TJPF_BGR : TJPF_BGRA;
  const int subsampling = image.channels() == 1 ? TJSAMP_GRAY : TJSAMP_420;
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int failed = tjCompress2(handle.get(), image.data, image.cols, static_cast<int>(image.step), image.rows, format,
                                 &jpeg, &size, subsampling, quality, 0);
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(jpeg, tjFree);
  if (failed != 0 || jpeg == nullptr) return false;
  out->assign(jpeg, jpeg + size);
  return true;
}

bool WriteImageFile(const std::string& path, const cv::Mat& image) {
  const auto endsWith = [&](const char* suffix) {
    const std::size_t length = std::strlen(suffix);
    return path.size() >= length && path.compare(path.size() - length, length, suffix) == 0;
  };
  std::vector<unsigned char> bytes;
  const bool encoded = endsWith(".jpg") || endsWith(".jpeg") ? EncodeJpeg(image, 80, &bytes) : EncodePng(image, &bytes);
  if (!encoded) return false;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file || std::fwrite(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) return false;
  return std::fclose(file.release()) == 0;
}

}  // namespace orvex
