// Reading image files with exact reasons for what is refused.
#include <orvex/hostkit/ImageFiles.h>

#include <orvex/hostkit/FileResultStore.h>
#include <orvex/improc/Enums.h>
#include <orvex/improc/ImageCodecs.h>
#include <orvex/hashing/HashId.h>
#include <orvex/paramtree/StageNodes.h>

#include <xxhash.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvex {
namespace hostkit {

namespace {

// Why a path cannot be opened for reading, and whether it is missing.
std::string OpenProblem(const std::string& path, int openError, FileProblem* problem) {
  *problem = FileProblem::kUnreadable;
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      *problem = FileProblem::kMissing;
      return "is missing";
    }
    if (errno == ELOOP) return "is a symbolic link in a loop";
    return std::string("cannot be looked at: ") + std::strerror(errno);
  }
  if (!S_ISREG(info.st_mode)) return "is not a regular file";
  if (openError == EACCES || openError == EPERM) return "is not readable (permission denied)";
  return std::string("cannot be opened: ") + std::strerror(openError);
}

// The host kit's decoder: raise it whenever DecodeImageFile gives other pixels for the
// same bytes, so that no record of the older decoding is used again.
constexpr int kDecoderVersion = 1;

// Whether a record's value can be an image id: 1 to 64 letters, digits, '-' or '_'.
bool LooksLikeAnImageId(const std::string& id) {
  return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '_';
  });
}

}  // namespace

std::string DecoderIdentity() { return "hostkit-decoder-" + std::to_string(kDecoderVersion) + "/" + ImageDecoderIdentity(); }

std::string FileContentKey(const ImageFile& file) {
  static const std::string decoder = DecoderIdentity();
  const XXH128_hash_t hash = XXH3_128bits(file.bytes.data(), file.bytes.size());
  char key[64];
  std::snprintf(key, sizeof key, "%016llx%016llx-%zu|", static_cast<unsigned long long>(hash.high64),
                static_cast<unsigned long long>(hash.low64), file.bytes.size());
  return key + decoder;
}

FilePixels::FilePixels(ImageFile file) : m_file(std::move(file)) {}

QZRef<QZMatrix> FilePixels::Load() {
  MutexLock lock(m_mutex);
  if (m_loaded && m_pixels) return m_pixels;  // decoded once; the same pixels for every request
  m_loaded = true;
  m_failure.clear();
  m_pixels = DecodeImageFile(m_file, &m_failure);
  if (m_pixels) std::vector<unsigned char>().swap(m_file.bytes);  // decoded: the bytes are spent
  return m_pixels;
}

bool FilePixels::TakeDecoded(QZRef<QZMatrix>* pixels, std::string* failure) {
  MutexLock lock(m_mutex);
  if (!m_loaded) return false;
  pixels->swap(m_pixels);
  *failure = m_failure;
  return true;
}

QZRef<SourcePixels> PixelsOfFile(ImageFile file) { return QZRef<SourcePixels>(new FilePixels(std::move(file))); }

bool ReadImageFile(const std::string& path, ImageFile* file, std::string* reason, FileProblem* kind) {
  FileProblem ignored;
  if (kind == nullptr) kind = &ignored;
  *kind = FileProblem::kNone;
  const ImageLimits limits = QZMatrix::GetImageLimits();
  // Opened without blocking, so that a FIFO is refused rather than waited on.
  const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor < 0) {
    *reason = OpenProblem(path, errno, kind);
    return false;
  }
  struct stat info;
  std::string problem;
  if (fstat(descriptor, &info) != 0) problem = std::string("cannot be looked at: ") + std::strerror(errno);
  else if (!S_ISREG(info.st_mode)) problem = "is not a regular file";
  if (!problem.empty()) *kind = FileProblem::kUnreadable;
  else if (info.st_size > limits.maxFileBytes)
    problem = "has " + std::to_string(info.st_size) + " bytes, more than the file-size limit of " +
              std::to_string(limits.maxFileBytes);
  if (problem.empty()) {
    file->path = path;
    file->bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < file->bytes.size()) {
      const ssize_t got = read(descriptor, file->bytes.data() + done, file->bytes.size() - done);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        problem = std::string("cannot be read: ") + std::strerror(errno);
        *kind = FileProblem::kUnreadable;
      }
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    file->bytes.resize(done);  // a file that shrank while read is judged by what was read
  }
  close(descriptor);
  if (problem.empty() && !QZMatrix::InspectImageBytes(file->bytes.data(), file->bytes.size(), &file->width, &file->height)) {
    problem = QZMatrix::ErrorText(QZME_NOT_AN_IMAGE);
  }
  if (problem.empty()) {
    int64_t pixels = 0;
    if (__builtin_mul_overflow(file->width, file->height, &pixels) || pixels > limits.maxPixels) {
      problem = "has " + (pixels > 0 ? std::to_string(pixels) : std::string("too many")) + " pixels (" +
                std::to_string(file->width) + " x " + std::to_string(file->height) +
                "), more than the pixel limit of " + std::to_string(limits.maxPixels);
    }
  }
  if (problem.empty()) return true;
  if (*kind == FileProblem::kNone) *kind = FileProblem::kRefused;
  *reason = problem;
  file->bytes.clear();
  return false;
}

QZRef<QZMatrix> DecodeImageFile(const ImageFile& file, std::string* reason) {
  int error = 0;
  QZRef<QZMatrix> image(QZMatrix::DecodeImageBytes(file.bytes.data(), file.bytes.size(), &error, QZLM_COLOUR));
  if (!image) *reason = QZMatrix::ErrorText(error);
  return image;
}

std::string PreparedImage::Id() const {
  if (!knownId.empty()) return knownId;
  return pixels ? SourceImageHashId(*pixels) : std::string();
}

bool PrepareImageFile(const std::string& path, FileResultStore* store, PreparedImage* image, std::string* reason,
                      FileProblem* problem) {
  ImageFile file;
  if (!ReadImageFile(path, &file, reason, problem)) return false;
  image->store = store;
  image->path = path;
  if (store != nullptr) {
    image->fileKey = FileContentKey(file);
    std::string id;
    // A record is used only when what it names can be an image id; the pixels, when they
    // are decoded, must then give that id (SetGroups::Process).
    if (store->LoadRecord(image->fileKey, &id) && LooksLikeAnImageId(id)) {
      image->knownId = id;
      image->width = static_cast<int>(file.width);
      image->height = static_cast<int>(file.height);
      image->known = QZRef<FilePixels>(new FilePixels(std::move(file)));
      return true;
    }
  }
  image->pixels = DecodeImageFile(file, reason);
  if (!image->pixels && problem != nullptr) *problem = FileProblem::kRefused;
  return static_cast<bool>(image->pixels);
}

}  // namespace hostkit
}  // namespace orvex
