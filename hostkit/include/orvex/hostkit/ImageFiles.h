// Image files as hosts read them: the bytes first (so that a host can tell a file it has
// seen from its bytes), then the pixels, with reasons that say exactly what is wrong.
//
// A record is trusted as a claim of the store's writers (docs/store.md); what a record
// names is checked to be an image id before it is used, and whenever the file is decoded
// its pixels must give that id, or the record is replaced.
//
// Threads: the functions keep no state; call them from any thread.
#ifndef ORVEX_HOSTKIT_IMAGEFILES_H
#define ORVEX_HOSTKIT_IMAGEFILES_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/Mutex.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/improc/QZMatrix.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {

// A PNG or JPEG file's bytes and the size its header declares.
struct ImageFile {
  std::string path;
  std::vector<unsigned char> bytes;
  int64_t width = 0;
  int64_t height = 0;
};

// Why a file was not read: it is not there, it cannot be read (not a regular file, no
// permission, an input error), or it was read and refused for its content or size.
enum class FileProblem { kNone, kMissing, kUnreadable, kRefused };

// Reads an image file within the image limits (QZMatrix::GetImageLimits). False, with the
// reason in *reason (and its kind in *problem, when given), for one that is missing, not
// a regular file (a folder, FIFO or device, never read), not readable, larger than the
// file-size limit, not a PNG or JPEG, or larger than the pixel limit ("has 12000000
// pixels (4000 x 3000), more than the limit of 10000000"). Reads nothing of a file it
// refuses for its kind or size.
ORVEX_EXPORT bool ReadImageFile(const std::string& path, ImageFile* file, std::string* reason,
                                FileProblem* problem = nullptr);

// The pixels of a file read by ReadImageFile (colour: three channels, four with alpha);
// null, with the reason, when they cannot be decoded.
ORVEX_EXPORT QZRef<QZMatrix> DecodeImageFile(const ImageFile& file, std::string* reason);

// Who turns a file's bytes into pixels: the host kit's decoder version and the
// decoders' identity (ImageDecoderIdentity: their code and libjpeg-turbo's version). A decoder of another identity may give other pixels for the same
// bytes, so what one decoder made of a file is never taken for another's.
ORVEX_EXPORT std::string DecoderIdentity();

// What names a file's pixels by its bytes: the XXH3-128 of the bytes, their number and
// the decoder's identity. A store remembers under it which image the file decodes to, so
// that a later run needs only the bytes (0.2 ms for a 3 MB file) to find the image's results.
ORVEX_EXPORT std::string FileContentKey(const ImageFile& file);

// The pixels of a file read by ReadImageFile, decoded when a result first needs them. It
// keeps what the decoding gave until a host takes it, so that the host can check the
// pixels against the id a record named (SetGroups::Process does). Thread-safe.
class ORVEX_EXPORT FilePixels : public SourcePixels {
 public:
  explicit FilePixels(ImageFile file);
  // The decoded pixels (decoded at the first call; the same pixels at every later one),
  // or null when the bytes cannot be decoded.
  QZRef<QZMatrix> Load() override;
  // Whether Load ran; if so, its pixels are handed over into *pixels (null when the
  // decoding failed, with the reason in *failure).
  bool TakeDecoded(QZRef<QZMatrix>* pixels, std::string* failure);

 private:
  // m_mutex guards the file, the decoding's outcome and the pixels; a leaf (Load runs
  // under the source stage's lock).
  Mutex m_mutex;
  ImageFile m_file ORVEX_GUARDED_BY(m_mutex);
  bool m_loaded ORVEX_GUARDED_BY(m_mutex) = false;
  QZRef<QZMatrix> m_pixels ORVEX_GUARDED_BY(m_mutex);
  std::string m_failure ORVEX_GUARDED_BY(m_mutex);
};

// The pixels of a file read by ReadImageFile, decoded when a result first needs them.
ORVEX_EXPORT QZRef<SourcePixels> PixelsOfFile(ImageFile file);

class FileResultStore;

// An image ready for SetGroups::Process: its decoded pixels, or, when a result store
// remembers the file's bytes, the image id they decoded to before, with the file to
// decode only when a result first needs the pixels.
struct ORVEX_EXPORT PreparedImage {
  QZRef<QZMatrix> pixels;          // decoded; empty for an image known by its id
  std::string knownId;             // the id the store remembered; empty when decoded
  int width = 0;                   // the known image's size, from the file's header
  int height = 0;
  QZRef<FilePixels> known;         // the known image's pixels, decoded on first use
  std::string path;                // the file, for messages
  std::string fileKey;             // with a store: the file's content key (FileContentKey)
  FileResultStore* store = nullptr;  // remembers the file once it is processed; not owned

  // The image's hash id: the remembered one, or the pixels' own (hashed now).
  std::string Id() const;
};

// Reads an image file (ReadImageFile) and makes it ready: known by its id when `store`
// (may be null) remembers its bytes, else decoded. False with the reason and its kind.
ORVEX_EXPORT bool PrepareImageFile(const std::string& path, FileResultStore* store, PreparedImage* image,
                                   std::string* reason, FileProblem* problem = nullptr);

}  // namespace hostkit
}  // namespace orvex

#endif
