// Counted image matrix over cv::Mat, with its hash id.
//
// A matrix is held through QZRef<QZMatrix>. Its pixels are its own (loaders copy the
// caller's bytes). The pixels are not synchronised: a matrix is filled before it is
// shared and only read afterwards. The hash id is: several threads may compute and read
// it at once.
#ifndef ORVEX_IMPROC_QZMATRIX_H
#define ORVEX_IMPROC_QZMATRIX_H

#include <orvex/Export.h>
#include <orvex/core/ImagePixelFormat.h>
#include <orvex/improc/Enums.h>
#include <orvex/improc/QZObjectBase.h>

#include <opencv2/core.hpp>

#include <mutex>
#include <string>

namespace orvex {

class ORVEX_EXPORT QZMatrix : public QZObjectBase {
 public:
  // An empty matrix.
  QZMatrix();
  // A rows x cols matrix of the OpenCV element type `type` (6 is CV_64FC1); when
  // `fill` is true every element is set to `fillValue`.
  QZMatrix(int rows, int cols, int type, int fillValue, bool fill);
  // Shares the pixels of `mat` (cv::Mat counts its own data).
  explicit QZMatrix(const cv::Mat& mat);

  cv::Mat& GetMat() { return m_mat; }
  const cv::Mat& GetMat() const { return m_mat; }
  bool IsEmpty() const { return m_mat.empty(); }

  // Inverts a square floating-point matrix in place; false (unchanged) when singular or not square.
  bool Invert();

  // Hashes rows, columns, element type and the pixel bytes row by row (never the
  // padding of a row) and keeps the text. Equal pixels give equal ids whatever the
  // stride. False, with an empty id, for an empty matrix.
  bool CalcHashID();
  std::string GetHashID() const;
  int GetHashIDLength() const;

  // Test seam: while a replacement is set, CalcHashID keeps the id it returns for the
  // pixels (so tests can force collisions). Null restores the real hash.
  typedef std::string (*HashFunction)(const cv::Mat& pixels);
  static void SetHashFunctionForTesting(HashFunction replacement);

  // Copies a caller's pixel buffer into `target`. `mode` is a QZMatrixLoadMode and
  // `usage` a ColourChannelUsageType. Refuses (false, target emptied, *error set)
  // null bytes or target, a non-positive size, a stride below one row, an unknown
  // format or mode; reads no byte outside height x stride.
  static bool GetMatrixByBuffer(const unsigned char* bytes, int width, int height, int stride,
                                core::ImagePixelFormat format, int* error, int mode, QZMatrix* target,
                                ColourChannelUsageType usage);

  // The hash id GetMatrixByBuffer followed by CalcHashID would give, computed over the
  // caller's rows where they lie (converted a band at a time where the layout differs);
  // empty for a buffer GetMatrixByBuffer refuses.
  static std::string HashIdOfBuffer(const unsigned char* bytes, int width, int height, int stride,
                                    core::ImagePixelFormat format, int mode, ColourChannelUsageType usage);

  // Decodes an image file into a new, uncounted matrix (mode as above), or returns
  // null with *error set for a missing, unreadable, truncated or non-image file.
  static QZMatrix* ReadQZMatrixFromFile(const char* path, int* error, int mode);

 private:
  cv::Mat m_mat;
  // m_hashMutex guards m_hashId; a leaf lock, taken after every library lock.
  mutable std::mutex m_hashMutex;
  std::string m_hashId;
};

}  // namespace orvex

#endif
