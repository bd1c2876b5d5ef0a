// Counted image matrix over cv::Mat, with its hash id.
//
// A matrix is held through QZRef<QZMatrix>. Its pixels are its own (loaders copy the
// caller's bytes). The pixels are not synchronised: a matrix is filled before it is
// shared and only read afterwards. The hash id is: several threads may compute and read
// it at once.
#ifndef ORVEX_IMPROC_QZMATRIX_H
#define ORVEX_IMPROC_QZMATRIX_H

#include <orvex/foundation/Export.h>
#include <orvex/core/ImagePixelFormat.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/improc/Enums.h>
#include <orvex/foundation/QZObjectBase.h>

#include <opencv2/core.hpp>

#include <cstdint>
#include <orvex/foundation/Mutex.h>
#include <string>

namespace orvex {

// What the loaders accept: images of at most maxPixels pixels (checked from the buffer's
// size or the file's header, before any pixel is copied or decoded) and files of at most
// maxFileBytes bytes (checked before they are read).
struct ImageLimits {
  int64_t maxPixels = 100 * 1000 * 1000;
  int64_t maxFileBytes = int64_t(512) << 20;
};

class ORVEX_EXPORT QZMatrix : public QZObjectBase {
 public:
  // The limits of every loader in the process. Thread-safe; values of 0 or less are
  // refused (the call answers false and changes nothing).
  static bool SetImageLimits(const ImageLimits& limits);
  static ImageLimits GetImageLimits();
  // A sentence saying why a loader refused (its error out-value).
  static const char* ErrorText(int error);

  // An empty matrix.
  QZMatrix();
  ~QZMatrix() override;
  // A rows x cols matrix of the OpenCV element type `type` (6 is CV_64FC1); when
  // `fill` is true every element is set to `fillValue`.
  QZMatrix(int rows, int cols, int type, int fillValue, bool fill);
  // Shares the pixels of `mat` (cv::Mat counts its own data).
  explicit QZMatrix(const cv::Mat& mat);

  // A new, uncounted matrix with a copy of these pixels (in one continuous block) and
  // this hash id: pixels of its own, which nobody else can change.
  QZMatrix* CopyOwnPixels() const;
  // Whether no other matrix or cv::Mat shares these pixels (and they are not a caller's
  // buffer that OpenCV does not own).
  bool HoldsItsPixelsAlone() const;

  cv::Mat& GetMat() { return m_mat; }
  const cv::Mat& GetMat() const { return m_mat; }
  bool IsEmpty() const { return m_mat.empty(); }

  // Inverts a square floating-point matrix in place; false (unchanged) when singular or not square.
  bool Invert();

  // Hashes rows, columns, element type and the pixel bytes row by row (never the
  // padding of a row) and keeps the text. Equal pixels give equal ids whatever the
  // stride. False, with an empty id, for an empty matrix. The id is kept beside the
  // pixels, not part of them: a matrix that is read only computes it too.
  bool CalcHashID() const;
  std::string GetHashID() const;
  int GetHashIDLength() const;

  // Test seam: while a replacement is set, CalcHashID keeps the id it returns for the
  // pixels (so tests can force collisions). Null restores the real hash.
  typedef std::string (*HashFunction)(const cv::Mat& pixels);
  static void SetHashFunctionForTesting(HashFunction replacement);
  // Comparison seam, for the benchmarks and the tests that hold the decoders to another:
  // while set, DecodeImageBytes and ReadQZMatrixFromFile decode with `decoder` (pixels of
  // any depth and 1 to 4 channels, as OpenCV's imdecode gives them for `mode`), after the
  // same header checks and limits. Null restores the library's own decoders.
  typedef cv::Mat (*DecoderFunction)(const unsigned char* bytes, size_t length, int mode);
  static void SetDecoderForComparison(DecoderFunction decoder);

  // Copies a caller's pixel buffer into `target`. `mode` is a QZMatrixLoadMode and
  // `usage` a ColourChannelUsageType. In colour mode the matrix is blue-green-red, gray
  // expanded to three channels, alpha kept as a fourth (CCUT_ALL_CHANNELS) or dropped,
  // as the file loader makes it. Refuses (false, target emptied, *error set) null bytes
  // or target, a non-positive size, a stride below one row, an unknown format or mode,
  // more pixels than the limits allow; reads no byte outside height x stride.
  static bool GetMatrixByBuffer(const unsigned char* bytes, int width, int height, int stride,
                                core::ImagePixelFormat format, int* error, int mode, QZMatrix* target,
                                ColourChannelUsageType usage);

  // The hash id GetMatrixByBuffer followed by CalcHashID would give, computed over the
  // caller's rows where they lie (converted a band at a time where the layout differs);
  // empty for a buffer GetMatrixByBuffer refuses.
  static std::string HashIdOfBuffer(const unsigned char* bytes, int width, int height, int stride,
                                    core::ImagePixelFormat format, int mode, ColourChannelUsageType usage);

  // Decodes a PNG or JPEG file into a new, uncounted matrix (mode as above: in colour
  // mode three channels, four when the image has alpha; 8 bits each), or returns null
  // with *error set: a missing or unreadable path or one that is not a regular file, a
  // file over the byte limit (not read), an image over the pixel limit (not decoded),
  // another format, a structure that stops before its end, or no memory for it. Bytes
  // after the image's end do not matter. PNG is decoded by the library's own decoder
  // (over libdeflate), JPEG by libjpeg-turbo; the pixels are those OpenCV's imdecode gave
  // for IMREAD_UNCHANGED brought to 8 bits: 16-bit samples rounded (v / 257), a PNG's
  // tRNS as alpha for colour and palette images only, no gamma, profile or EXIF
  // orientation applied. In gray mode a PNG is decoded in colour and converted with
  // OpenCV's BGR2GRAY, a JPEG gives its luma.
  static QZMatrix* ReadQZMatrixFromFile(const char* path, int* error, int mode);
  // The same for the bytes of a file already read (at most the file-size limit).
  static QZMatrix* DecodeImageBytes(const unsigned char* bytes, size_t length, int* error, int mode);
  // The width and height a PNG or JPEG header declares; false for other bytes. Decodes
  // nothing.
  static bool InspectImageBytes(const unsigned char* bytes, size_t length, int64_t* width, int64_t* height);

 private:
  cv::Mat m_mat;
  // The stage computation that made this matrix (0 when none did): a computation may free
  // what it made itself under its locks, since nothing else can hold it yet.
  uint64_t m_madeByComputation = 0;
  // m_hashMutex guards m_hashId; a leaf.
  mutable Mutex m_hashMutex;
  mutable std::string m_hashId ORVEX_GUARDED_BY(m_hashMutex);
};

}  // namespace orvex

#endif
