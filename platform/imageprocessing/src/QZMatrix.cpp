#include <orvex/improc/QZMatrix.h>

#include "Computation.h"
#include "HashText.h"
#include "codecs/JpegDecoder.h"
#include "codecs/PngDecoder.h"
#include "ImageFileFormat.h"

#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

namespace orvex {

namespace {

std::atomic<QZMatrix::HashFunction> g_hashReplacement{nullptr};
std::atomic<QZMatrix::DecoderFunction> g_comparisonDecoder{nullptr};
std::atomic<int64_t> g_maxPixels{ImageLimits().maxPixels};
std::atomic<int64_t> g_maxFileBytes{ImageLimits().maxFileBytes};

void SetError(int* error, int value) {
  if (error != nullptr) *error = value;
}

// How a caller's pixel format becomes the family's layout for `mode` and `usage`: the
// OpenCV conversion code (kKeepLayout when the bytes are taken as they are) and the
// channels of the result. Every conversion works pixel by pixel, so row by row as well.
constexpr int kKeepLayout = -1;

struct FamilyLayout {
  int conversion;
  int channels;
};

FamilyLayout LayoutFor(core::ImagePixelFormat format, int mode, ColourChannelUsageType usage) {
  if (mode == QZLM_GRAYSCALE) {
    switch (format) {
      case core::IPF_GRAYSCALE_8: return {kKeepLayout, 1};
      case core::IPF_BGR_888: return {cv::COLOR_BGR2GRAY, 1};
      case core::IPF_RGB_888: return {cv::COLOR_RGB2GRAY, 1};
      case core::IPF_BGRA_8888: return {cv::COLOR_BGRA2GRAY, 1};
      case core::IPF_RGBA_8888: return {cv::COLOR_RGBA2GRAY, 1};
    }
  }
  const bool dropAlpha = usage == CCUT_DROP_ALPHA;
  switch (format) {
    case core::IPF_GRAYSCALE_8: return {cv::COLOR_GRAY2BGR, 3};
    case core::IPF_BGR_888: return {kKeepLayout, 3};
    case core::IPF_RGB_888: return {cv::COLOR_RGB2BGR, 3};
    case core::IPF_BGRA_8888: return dropAlpha ? FamilyLayout{cv::COLOR_BGRA2BGR, 3} : FamilyLayout{kKeepLayout, 4};
    case core::IPF_RGBA_8888: return dropAlpha ? FamilyLayout{cv::COLOR_RGBA2BGR, 3} : FamilyLayout{cv::COLOR_RGBA2BGRA, 4};
  }
  return {kKeepLayout, 0};
}

// Converts a matrix in the caller's channel order to the family's layout.
cv::Mat ToFamilyLayout(const cv::Mat& src, const FamilyLayout& layout) {
  cv::Mat out;
  if (layout.conversion == kKeepLayout) out = src.clone();
  else cv::cvtColor(src, out, layout.conversion);
  return out;
}

// The hash id of pixels fed row by row: rows, columns and element type first, then the
// bytes of every row (never a row's padding), so equal pixels give equal ids whatever
// the stride.
class PixelHasher {
 public:
  PixelHasher(int rows, int cols, int type) : m_state(XXH3_createState()) {
    if (m_state == nullptr) return;
    const int32_t header[3] = {rows, cols, type};
    XXH3_128bits_reset(m_state);
    XXH3_128bits_update(m_state, header, sizeof header);
  }
  ~PixelHasher() { XXH3_freeState(m_state); }
  PixelHasher(const PixelHasher&) = delete;
  PixelHasher& operator=(const PixelHasher&) = delete;

  void Add(const void* bytes, size_t length) {
    if (m_state != nullptr) XXH3_128bits_update(m_state, bytes, length);
  }
  // The id, or empty when the hash state could not be made.
  std::string Finish() {
    if (m_state == nullptr) return std::string();
    char text[kHashTextBufferSize];
    WriteHashText(XXH3_128bits_digest(m_state), text);
    return text;
  }

 private:
  XXH3_state_t* m_state;
};

// Checks a caller's buffer as GetMatrixByBuffer does; QZME_OK when it can be read.
int CheckBuffer(const unsigned char* bytes, int width, int height, int stride, core::ImagePixelFormat format, int mode,
                ColourChannelUsageType usage) {
  if (bytes == nullptr) return QZME_NULL_ARGUMENT;
  if (width <= 0 || height <= 0) return QZME_BAD_SIZE;
  const int channels = core::BytesPerPixel(format);
  if (channels == 0) return QZME_UNKNOWN_FORMAT;
  if (mode != QZLM_GRAYSCALE && mode != QZLM_COLOUR) return QZME_BAD_MODE;
  if (usage != CCUT_ALL_CHANNELS && usage != CCUT_DROP_ALPHA) return QZME_BAD_MODE;
  const int64_t rowBytes = static_cast<int64_t>(width) * channels;
  if (stride < rowBytes) return QZME_BAD_STRIDE;
  if (rowBytes > INT_MAX || static_cast<int64_t>(height) * stride > static_cast<int64_t>(SIZE_MAX / 2)) {
    return QZME_BAD_SIZE;
  }
  if (static_cast<int64_t>(width) * height > g_maxPixels.load(std::memory_order_relaxed)) return QZME_TOO_MANY_PIXELS;
  return QZME_OK;
}

// Reads a regular file of at most `maxBytes` bytes whole; QZME_OK or why not.
int ReadFileWithin(const char* path, int64_t maxBytes, std::vector<unsigned char>& bytes) {
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) return QZME_UNREADABLE_FILE;
  struct stat info;
  int result = QZME_OK;
  if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    result = QZME_UNREADABLE_FILE;  // a folder, FIFO, device or socket is never read
  } else if (info.st_size > maxBytes) {
    result = QZME_FILE_TOO_LARGE;
  } else {
    bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t got = read(descriptor, bytes.data() + done, bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    bytes.resize(done);  // a file that shrank while read is judged by what was read
  }
  close(descriptor);
  return result;
}

// A decoded image in the family's layout for `mode`: 8 bits, gray or blue-green-red,
// with alpha as a fourth channel in colour mode.
cv::Mat ToLoadedLayout(const cv::Mat& decoded, int mode) {
  cv::Mat eight;
  if (decoded.depth() == CV_8U) eight = decoded;
  else decoded.convertTo(eight, CV_8U, decoded.depth() == CV_16U ? 1.0 / 257.0 : 1.0);
  cv::Mat out;
  const int channels = eight.channels();
  if (mode == QZLM_GRAYSCALE) {
    switch (channels) {
      case 1: out = eight; break;
      case 2: cv::extractChannel(eight, out, 0); break;  // gray with alpha: the gray plane
      case 3: cv::cvtColor(eight, out, cv::COLOR_BGR2GRAY); break;
      default: cv::cvtColor(eight, out, cv::COLOR_BGRA2GRAY); break;
    }
    return out;
  }
  switch (channels) {
    case 1: cv::cvtColor(eight, out, cv::COLOR_GRAY2BGR); break;
    case 2: {  // gray with alpha
      cv::Mat planes[2];
      cv::split(eight, planes);
      cv::Mat gray;
      cv::cvtColor(planes[0], gray, cv::COLOR_GRAY2BGR);
      cv::Mat bgra[4];
      cv::split(gray, bgra);
      bgra[3] = planes[1];
      cv::merge(bgra, 4, out);
      break;
    }
    default: out = eight; break;
  }
  return out;
}

// The pixels of PNG or JPEG bytes in the family's layout for `mode`: the library's own
// decoders, or, while a comparison decoder is set, its pixels brought to that layout.
// Empty when they cannot be decoded.
cv::Mat Decode(const unsigned char* bytes, size_t length, imagefile::Format format, int mode, int64_t maxPixels) {
  if (QZMatrix::DecoderFunction other = g_comparisonDecoder.load(std::memory_order_acquire)) {
    cv::Mat decoded;
    try {
      decoded = other(bytes, length, mode);
    } catch (const cv::Exception&) {
      return cv::Mat();
    }
    if (decoded.empty() || decoded.dims != 2 || decoded.channels() > 4) return cv::Mat();
    return ToLoadedLayout(decoded, mode);
  }
  if (format == imagefile::Format::kJpeg) return codecs::DecodeJpeg(bytes, length, maxPixels, mode == QZLM_GRAYSCALE);
  cv::Mat colour = codecs::DecodePng(bytes, length, maxPixels);
  if (mode != QZLM_GRAYSCALE || colour.empty()) return colour;
  cv::Mat gray;
  cv::cvtColor(colour, gray, colour.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
  return gray;
}

}  // namespace

bool QZMatrix::SetImageLimits(const ImageLimits& limits) {
  if (limits.maxPixels <= 0 || limits.maxFileBytes <= 0) return false;
  g_maxPixels.store(limits.maxPixels, std::memory_order_relaxed);
  g_maxFileBytes.store(limits.maxFileBytes, std::memory_order_relaxed);
  return true;
}

ImageLimits QZMatrix::GetImageLimits() {
  ImageLimits limits;
  limits.maxPixels = g_maxPixels.load(std::memory_order_relaxed);
  limits.maxFileBytes = g_maxFileBytes.load(std::memory_order_relaxed);
  return limits;
}

const char* QZMatrix::ErrorText(int error) {
  switch (error) {
    case QZME_OK: return "loaded";
    case QZME_NULL_ARGUMENT: return "a required argument is missing";
    case QZME_BAD_SIZE: return "the width or height is not positive or too large";
    case QZME_BAD_STRIDE: return "the stride is shorter than a row";
    case QZME_UNKNOWN_FORMAT: return "the pixel format is unknown";
    case QZME_BAD_MODE: return "the load mode or channel usage is unknown";
    case QZME_UNREADABLE_FILE: return "is missing, not a regular file, or not readable";
    case QZME_NOT_AN_IMAGE: return "is not a PNG or JPEG image that can be decoded";
    case QZME_TRUNCATED: return "is a PNG or JPEG image cut off before its end";
    case QZME_TOO_MANY_PIXELS: return "has more pixels than the pixel limit allows";
    case QZME_FILE_TOO_LARGE: return "is larger than the file-size limit allows";
    case QZME_OUT_OF_MEMORY: return "needs more memory than could be had";
  }
  return "could not be loaded";
}

QZMatrix::QZMatrix() : m_madeByComputation(CurrentComputation()) {}

QZMatrix::QZMatrix(int rows, int cols, int type, int fillValue, bool fill)
    : m_mat(rows, cols, type), m_madeByComputation(CurrentComputation()) {
  if (fill) m_mat.setTo(cv::Scalar::all(fillValue));
}

QZMatrix::QZMatrix(const cv::Mat& mat) : m_mat(mat), m_madeByComputation(CurrentComputation()) {}

bool QZMatrix::HoldsItsPixelsAlone() const {
  return m_mat.u != nullptr && CV_XADD(&m_mat.u->refcount, 0) == 1;
}

QZMatrix::~QZMatrix() {
  // A computation's scratch matrix goes with the locks the computation runs under.
  if (m_madeByComputation == 0 || m_madeByComputation != CurrentComputation()) ExpectNoLibraryLockHeld("a matrix is freed");
}

QZMatrix* QZMatrix::CopyOwnPixels() const {
  std::unique_ptr<QZMatrix> copy(new QZMatrix(m_mat.clone()));
  std::string id = GetHashID();
  MutexLock lock(copy->m_hashMutex);
  copy->m_hashId.swap(id);
  return copy.release();
}

bool QZMatrix::Invert() {
  if (m_mat.empty() || m_mat.rows != m_mat.cols || (m_mat.depth() != CV_64F && m_mat.depth() != CV_32F)) return false;
  cv::Mat inverse;
  if (cv::invert(m_mat, inverse, cv::DECOMP_LU) == 0) return false;
  m_mat = inverse;
  return true;
}

bool QZMatrix::CalcHashID() const {
  MutexLock lock(m_hashMutex);
  m_hashId.clear();
  if (m_mat.empty() || m_mat.dims != 2) return false;
  if (HashFunction replacement = g_hashReplacement.load(std::memory_order_acquire)) {
    m_hashId = replacement(m_mat);
    return !m_hashId.empty();
  }
  PixelHasher hasher(m_mat.rows, m_mat.cols, m_mat.type());
  const size_t rowBytes = m_mat.cols * m_mat.elemSize();
  if (m_mat.isContinuous()) {
    hasher.Add(m_mat.data, rowBytes * m_mat.rows);
  } else {
    for (int r = 0; r < m_mat.rows; ++r) hasher.Add(m_mat.ptr(r), rowBytes);
  }
  m_hashId = hasher.Finish();
  return !m_hashId.empty();
}

std::string QZMatrix::HashIdOfBuffer(const unsigned char* bytes, int width, int height, int stride,
                                     core::ImagePixelFormat format, int mode, ColourChannelUsageType usage) {
  if (CheckBuffer(bytes, width, height, stride, format, mode, usage) != QZME_OK) return std::string();
  const FamilyLayout layout = LayoutFor(format, mode, usage);
  const cv::Mat view(height, width, CV_8UC(core::BytesPerPixel(format)), const_cast<unsigned char*>(bytes),
                     static_cast<size_t>(stride));
  if (g_hashReplacement.load(std::memory_order_acquire) != nullptr) {
    QZMatrix matrix(ToFamilyLayout(view, layout));
    return matrix.CalcHashID() ? matrix.GetHashID() : std::string();
  }
  PixelHasher hasher(height, width, CV_8UC(layout.channels));
  const size_t rowBytes = static_cast<size_t>(width) * layout.channels;
  if (layout.conversion == kKeepLayout) {
    // The caller's rows are hashed where they are.
    if (view.isContinuous()) hasher.Add(bytes, rowBytes * height);
    else for (int r = 0; r < height; ++r) hasher.Add(view.ptr(r), rowBytes);
    return hasher.Finish();
  }
  // Converted a band of rows at a time, through a buffer that stays in the cache.
  const int band = std::max(1, static_cast<int>(256 * 1024 / rowBytes));
  cv::Mat converted;
  for (int first = 0; first < height; first += band) {
    cv::cvtColor(view.rowRange(first, std::min(height, first + band)), converted, layout.conversion);
    hasher.Add(converted.data, converted.total() * converted.elemSize());
  }
  return hasher.Finish();
}

void QZMatrix::SetDecoderForComparison(DecoderFunction decoder) {
  g_comparisonDecoder.store(decoder, std::memory_order_release);
}

void QZMatrix::SetHashFunctionForTesting(HashFunction replacement) {
  g_hashReplacement.store(replacement, std::memory_order_release);
}

std::string QZMatrix::GetHashID() const {
  MutexLock lock(m_hashMutex);
  return m_hashId;
}

int QZMatrix::GetHashIDLength() const {
  MutexLock lock(m_hashMutex);
  return static_cast<int>(m_hashId.size());
}

bool QZMatrix::GetMatrixByBuffer(const unsigned char* bytes, int width, int height, int stride,
                                 core::ImagePixelFormat format, int* error, int mode, QZMatrix* target,
                                 ColourChannelUsageType usage) {
  if (target == nullptr) {
    SetError(error, QZME_NULL_ARGUMENT);
    return false;
  }
  target->m_mat.release();
  {
    MutexLock lock(target->m_hashMutex);
    target->m_hashId.clear();
  }
  const int checked = CheckBuffer(bytes, width, height, stride, format, mode, usage);
  SetError(error, checked);
  if (checked != QZME_OK) return false;
  // A header over the caller's rows (never read past height x stride), then a private copy.
  const cv::Mat view(height, width, CV_8UC(core::BytesPerPixel(format)), const_cast<unsigned char*>(bytes),
                     static_cast<size_t>(stride));
  target->m_mat = ToFamilyLayout(view, LayoutFor(format, mode, usage));
  return true;
}

QZMatrix* QZMatrix::ReadQZMatrixFromFile(const char* path, int* error, int mode) {
  if (path == nullptr) {
    SetError(error, QZME_NULL_ARGUMENT);
    return nullptr;
  }
  if (mode != QZLM_GRAYSCALE && mode != QZLM_COLOUR) {
    SetError(error, QZME_BAD_MODE);
    return nullptr;
  }
  std::vector<unsigned char> bytes;
  try {
    const int read = ReadFileWithin(path, g_maxFileBytes.load(std::memory_order_relaxed), bytes);
    if (read != QZME_OK) {
      SetError(error, read);
      return nullptr;
    }
  } catch (const std::bad_alloc&) {
    SetError(error, QZME_OUT_OF_MEMORY);
    return nullptr;
  }
  return DecodeImageBytes(bytes.data(), bytes.size(), error, mode);
}

bool QZMatrix::InspectImageBytes(const unsigned char* bytes, size_t length, int64_t* width, int64_t* height) {
  if (bytes == nullptr) return false;
  const imagefile::Header header = imagefile::Inspect(bytes, length);
  if (header.format == imagefile::Format::kUnknown) return false;
  if (width != nullptr) *width = header.width;
  if (height != nullptr) *height = header.height;
  return true;
}

QZMatrix* QZMatrix::DecodeImageBytes(const unsigned char* bytes, size_t length, int* error, int mode) {
  if (bytes == nullptr) {
    SetError(error, QZME_NULL_ARGUMENT);
    return nullptr;
  }
  if (mode != QZLM_GRAYSCALE && mode != QZLM_COLOUR) {
    SetError(error, QZME_BAD_MODE);
    return nullptr;
  }
  if (length > static_cast<size_t>(std::min<int64_t>(INT_MAX, g_maxFileBytes.load(std::memory_order_relaxed)))) {
    SetError(error, QZME_FILE_TOO_LARGE);
    return nullptr;
  }
  try {
    // The header decides before a single pixel is decoded.
    const imagefile::Header header = imagefile::Inspect(bytes, length);
    if (header.format == imagefile::Format::kUnknown) {
      SetError(error, QZME_NOT_AN_IMAGE);
      return nullptr;
    }
    int64_t pixels = 0;
    if (__builtin_mul_overflow(header.width, header.height, &pixels) ||
        pixels > g_maxPixels.load(std::memory_order_relaxed)) {
      SetError(error, QZME_TOO_MANY_PIXELS);
      return nullptr;
    }
    if (!header.complete) {
      SetError(error, QZME_TRUNCATED);
      return nullptr;
    }
    const cv::Mat decoded = Decode(bytes, length, header.format, mode, g_maxPixels.load(std::memory_order_relaxed));
    if (decoded.empty()) {
      SetError(error, QZME_NOT_AN_IMAGE);
      return nullptr;
    }
    QZMatrix* matrix = new QZMatrix(decoded);
    SetError(error, QZME_OK);
    return matrix;
  } catch (const std::bad_alloc&) {
    SetError(error, QZME_OUT_OF_MEMORY);
    return nullptr;
  }
}

}  // namespace orvex
