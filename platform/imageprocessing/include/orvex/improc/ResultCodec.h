// Stage results as bytes, for stores that keep results beyond the process, and back.
//
// A result is written field by field in little-endian order: numbers, texts, quadrilaterals
// and pixels (type, size and rows, never a row's padding). Reading checks every size
// against the bytes left and every pixel type against the ones results use, so any bytes
// at all are read back to a result or refused, never misread.
#ifndef ORVEX_IMPROC_RESULTCODEC_H
#define ORVEX_IMPROC_RESULTCODEC_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/improc/StageResults.h>

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// A running XXH3-64 fingerprint of bytes, kept as they come and not stored.
class ORVEX_EXPORT ResultFingerprint {
 public:
  ResultFingerprint();
  ~ResultFingerprint();
  ResultFingerprint(const ResultFingerprint&) = delete;
  ResultFingerprint& operator=(const ResultFingerprint&) = delete;
  void Add(const void* data, std::size_t size);
  uint64_t Value() const;

 private:
  void* m_state;  // the hash's running state, made in the constructor
};

// The fingerprint of bytes in one block: equal to a ResultFingerprint fed the same bytes.
ORVEX_EXPORT uint64_t FingerprintOfBytes(const unsigned char* data, std::size_t size);

// Writes a result's fields as bytes: appended to a buffer, or fed to a fingerprint.
class ORVEX_EXPORT ResultWriter {
 public:
  explicit ResultWriter(std::vector<unsigned char>* out) : m_out(out) {}
  explicit ResultWriter(ResultFingerprint* fingerprint) : m_fingerprint(fingerprint) {}
  void Int(int64_t value);
  void Real(double value);
  void Text(const std::string& text);
  void Pixels(const cv::Mat& pixels);
  void Quad(const QZ_Quad& quad);

 private:
  void Raw(const void* data, std::size_t size);
  std::vector<unsigned char>* m_out = nullptr;
  ResultFingerprint* m_fingerprint = nullptr;
};

// Reads what a ResultWriter wrote; every read answers false (and reads nothing more) once
// the bytes do not hold what is asked for.
class ORVEX_EXPORT ResultReader {
 public:
  ResultReader(const unsigned char* data, std::size_t size) : m_data(data), m_left(size) {}
  bool Int(int64_t* value);
  bool Int32(int32_t* value);
  bool Real(double* value);
  bool Text(std::string* text);
  // Pixels of 8-bit images with 1 to 4 channels, or of 64-bit floating-point matrices.
  bool Pixels(cv::Mat* pixels);
  bool Quad(QZ_Quad* quad);
  bool AtEnd() const { return m_ok && m_left == 0; }
  bool Ok() const { return m_ok; }

 private:
  bool Raw(void* data, std::size_t size);
  const unsigned char* m_data;
  std::size_t m_left;
  bool m_ok = true;
};

// Each result type, written and read back (null when the bytes do not hold one).
ORVEX_EXPORT void WriteResult(ResultWriter& out, const QZMatrix& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const ImageWithQuad& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const QZQuadList& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const TextureDetectionResult& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const FilteredBinaryImage& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const ContourSet& result);
ORVEX_EXPORT void WriteResult(ResultWriter& out, const LineSegmentSet& result);
ORVEX_EXPORT QZRef<QZMatrix> ReadResult(ResultReader& in, const QZMatrix*);
ORVEX_EXPORT QZRef<ImageWithQuad> ReadResult(ResultReader& in, const ImageWithQuad*);
ORVEX_EXPORT QZRef<QZQuadList> ReadResult(ResultReader& in, const QZQuadList*);
ORVEX_EXPORT QZRef<TextureDetectionResult> ReadResult(ResultReader& in, const TextureDetectionResult*);
ORVEX_EXPORT QZRef<FilteredBinaryImage> ReadResult(ResultReader& in, const FilteredBinaryImage*);
ORVEX_EXPORT QZRef<ContourSet> ReadResult(ResultReader& in, const ContourSet*);
ORVEX_EXPORT QZRef<LineSegmentSet> ReadResult(ResultReader& in, const LineSegmentSet*);

}  // namespace orvex

#endif
