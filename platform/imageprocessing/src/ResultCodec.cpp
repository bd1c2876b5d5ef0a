// Stage results as bytes and back.
#include <orvex/improc/ResultCodec.h>

#include <xxhash.h>

#include <cstring>
#include <limits>
#include <new>

namespace orvex {

namespace {

// The largest side of a stored image: far beyond any image the limits let in.
constexpr int64_t kLargestSide = 1 << 20;

}  // namespace

ResultFingerprint::ResultFingerprint() : m_state(XXH3_createState()) {
  if (m_state == nullptr) throw std::bad_alloc();
  XXH3_64bits_reset(static_cast<XXH3_state_t*>(m_state));
}

ResultFingerprint::~ResultFingerprint() { XXH3_freeState(static_cast<XXH3_state_t*>(m_state)); }

void ResultFingerprint::Add(const void* data, std::size_t size) {
  XXH3_64bits_update(static_cast<XXH3_state_t*>(m_state), data, size);
}

uint64_t ResultFingerprint::Value() const { return XXH3_64bits_digest(static_cast<const XXH3_state_t*>(m_state)); }

uint64_t FingerprintOfBytes(const unsigned char* data, std::size_t size) { return XXH3_64bits(data, size); }

void ResultWriter::Raw(const void* data, std::size_t size) {
  if (size == 0) return;
  if (m_fingerprint != nullptr) {
    m_fingerprint->Add(data, size);
    return;
  }
  const auto* bytes = static_cast<const unsigned char*>(data);
  m_out->insert(m_out->end(), bytes, bytes + size);
}

void ResultWriter::Int(int64_t value) {
  unsigned char bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(static_cast<uint64_t>(value) >> (8 * i));
  Raw(bytes, sizeof bytes);
}

void ResultWriter::Real(double value) {
  int64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  Int(bits);
}

void ResultWriter::Text(const std::string& text) {
  Int(static_cast<int64_t>(text.size()));
  Raw(text.data(), text.size());
}

void ResultWriter::Pixels(const cv::Mat& pixels) {
  Int(pixels.type());
  Int(pixels.rows);
  Int(pixels.cols);
  const std::size_t rowBytes = pixels.cols * pixels.elemSize();
  if (m_out != nullptr) m_out->reserve(m_out->size() + rowBytes * pixels.rows);
  for (int r = 0; r < pixels.rows; ++r) Raw(pixels.ptr(r), rowBytes);
}

void ResultWriter::Quad(const QZ_Quad& quad) {
  for (int i = 0; i < 4; ++i) {
    Int(quad.GetPoint(i).x);
    Int(quad.GetPoint(i).y);
  }
}

bool ResultReader::Raw(void* data, std::size_t size) {
  if (!m_ok || size > m_left) return m_ok = false;
  if (size == 0) return true;
  std::memcpy(data, m_data, size);
  m_data += size;
  m_left -= size;
  return true;
}

bool ResultReader::Int(int64_t* value) {
  unsigned char bytes[8];
  if (!Raw(bytes, sizeof bytes)) return false;
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(bytes[i]) << (8 * i);
  *value = static_cast<int64_t>(bits);
  return true;
}

bool ResultReader::Int32(int32_t* value) {
  int64_t wide = 0;
  if (!Int(&wide) || wide < std::numeric_limits<int32_t>::min() || wide > std::numeric_limits<int32_t>::max()) {
    return m_ok = false;
  }
  *value = static_cast<int32_t>(wide);
  return true;
}

bool ResultReader::Real(double* value) {
  int64_t bits = 0;
  if (!Int(&bits)) return false;
  std::memcpy(value, &bits, sizeof bits);
  return true;
}

bool ResultReader::Text(std::string* text) {
  int64_t size = 0;
  if (!Int(&size) || size < 0 || static_cast<uint64_t>(size) > m_left) return m_ok = false;
  text->assign(reinterpret_cast<const char*>(m_data), static_cast<std::size_t>(size));
  m_data += size;
  m_left -= static_cast<std::size_t>(size);
  return true;
}

bool ResultReader::Pixels(cv::Mat* pixels) {
  int64_t type = 0, rows = 0, cols = 0;
  if (!Int(&type) || !Int(&rows) || !Int(&cols)) return false;
  const bool eightBit = CV_MAT_DEPTH(type) == CV_8U && CV_MAT_CN(type) >= 1 && CV_MAT_CN(type) <= 4;
  const bool matrix = type == CV_64FC1;
  if ((!eightBit && !matrix) || rows < 0 || cols < 0 || rows > kLargestSide || cols > kLargestSide) return m_ok = false;
  const uint64_t bytes = static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols) * CV_ELEM_SIZE(type);
  if (bytes > m_left) return m_ok = false;
  cv::Mat read(static_cast<int>(rows), static_cast<int>(cols), static_cast<int>(type));
  for (int r = 0; r < read.rows; ++r) Raw(read.ptr(r), read.cols * read.elemSize());
  *pixels = read;
  return m_ok;
}

bool ResultReader::Quad(QZ_Quad* quad) {
  for (int i = 0; i < 4; ++i) {
    int32_t x = 0, y = 0;
    if (!Int32(&x) || !Int32(&y)) return false;
    quad->SetPoint(i, cv::Point(x, y));
  }
  return true;
}

void WriteResult(ResultWriter& out, const QZMatrix& result) { out.Pixels(result.GetMat()); }

QZRef<QZMatrix> ReadResult(ResultReader& in, const QZMatrix*) {
  cv::Mat pixels;
  return in.Pixels(&pixels) ? QZRef<QZMatrix>(new QZMatrix(pixels)) : QZRef<QZMatrix>();
}

void WriteResult(ResultWriter& out, const ImageWithQuad& result) {
  out.Pixels(result.image ? result.image->GetMat() : cv::Mat());
  out.Quad(result.quad);
}

QZRef<ImageWithQuad> ReadResult(ResultReader& in, const ImageWithQuad*) {
  cv::Mat pixels;
  QZ_Quad quad;
  if (!in.Pixels(&pixels) || !in.Quad(&quad)) return QZRef<ImageWithQuad>();
  return QZRef<ImageWithQuad>(new ImageWithQuad(pixels, quad));
}

void WriteResult(ResultWriter& out, const QZQuadList& result) {
  out.Int(static_cast<int64_t>(result.quads.size()));
  for (const QZ_Quad& quad : result.quads) out.Quad(quad);
  out.Text(result.colourImageId);
}

QZRef<QZQuadList> ReadResult(ResultReader& in, const QZQuadList*) {
  int64_t count = 0;
  // A quadrilateral takes 64 bytes: a count beyond the bytes left is refused unread.
  if (!in.Int(&count) || count < 0 || count > (1 << 24)) return QZRef<QZQuadList>();
  QZRef<QZQuadList> list(new QZQuadList);
  for (int64_t i = 0; i < count; ++i) {
    QZ_Quad quad;
    if (!in.Quad(&quad)) return QZRef<QZQuadList>();
    list->quads.push_back(quad);
  }
  if (!in.Text(&list->colourImageId)) return QZRef<QZQuadList>();
  return list;
}

void WriteResult(ResultWriter& out, const TextureDetectionResult& result) {
  out.Pixels(result.textureMask ? result.textureMask->GetMat() : cv::Mat());
  out.Real(result.texturedFraction);
}

QZRef<TextureDetectionResult> ReadResult(ResultReader& in, const TextureDetectionResult*) {
  cv::Mat mask;
  QZRef<TextureDetectionResult> result(new TextureDetectionResult);
  if (!in.Pixels(&mask) || !in.Real(&result->texturedFraction)) return QZRef<TextureDetectionResult>();
  if (!mask.empty()) result->textureMask.reset(new QZMatrix(mask));
  return result;
}

void WriteResult(ResultWriter& out, const FilteredBinaryImage& result) {
  out.Pixels(result.image ? result.image->GetMat() : cv::Mat());
  out.Int(result.removedComponents);
}

QZRef<FilteredBinaryImage> ReadResult(ResultReader& in, const FilteredBinaryImage*) {
  cv::Mat pixels;
  QZRef<FilteredBinaryImage> result(new FilteredBinaryImage);
  int32_t removed = 0;
  if (!in.Pixels(&pixels) || !in.Int32(&removed)) return QZRef<FilteredBinaryImage>();
  if (!pixels.empty()) result->image.reset(new QZMatrix(pixels));
  result->removedComponents = removed;
  return result;
}

void WriteResult(ResultWriter& out, const ContourSet& result) {
  out.Int(static_cast<int64_t>(result.contours.size()));
  for (const std::vector<cv::Point>& contour : result.contours) {
    out.Int(static_cast<int64_t>(contour.size()));
    for (const cv::Point& point : contour) {
      out.Int(point.x);
      out.Int(point.y);
    }
  }
}

QZRef<ContourSet> ReadResult(ResultReader& in, const ContourSet*) {
  int64_t count = 0;
  if (!in.Int(&count) || count < 0 || count > (1 << 24)) return QZRef<ContourSet>();
  QZRef<ContourSet> result(new ContourSet);
  for (int64_t c = 0; c < count; ++c) {
    int64_t points = 0;
    if (!in.Int(&points) || points < 0 || points > (1 << 26)) return QZRef<ContourSet>();
    std::vector<cv::Point> contour;
    for (int64_t p = 0; p < points; ++p) {
      int32_t x = 0, y = 0;
      if (!in.Int32(&x) || !in.Int32(&y)) return QZRef<ContourSet>();
      contour.emplace_back(x, y);
    }
    result->contours.push_back(std::move(contour));
  }
  return result;
}

void WriteResult(ResultWriter& out, const LineSegmentSet& result) {
  out.Int(static_cast<int64_t>(result.segments.size()));
  for (const cv::Vec4f& s : result.segments)
    for (int i = 0; i < 4; ++i) out.Real(s[i]);
  out.Pixels(result.toSourceImage ? result.toSourceImage->GetMat() : cv::Mat());
}

QZRef<LineSegmentSet> ReadResult(ResultReader& in, const LineSegmentSet*) {
  int64_t count = 0;
  if (!in.Int(&count) || count < 0 || count > (1 << 24)) return QZRef<LineSegmentSet>();
  QZRef<LineSegmentSet> result(new LineSegmentSet);
  for (int64_t i = 0; i < count; ++i) {
    cv::Vec4f segment;
    for (int k = 0; k < 4; ++k) {
      double value = 0;
      if (!in.Real(&value)) return QZRef<LineSegmentSet>();
      segment[k] = static_cast<float>(value);
    }
    result->segments.push_back(segment);
  }
  cv::Mat transform;
  if (!in.Pixels(&transform)) return QZRef<LineSegmentSet>();
  if (!transform.empty()) {
    if (transform.rows != 3 || transform.cols != 3 || transform.type() != CV_64FC1) return QZRef<LineSegmentSet>();
    result->toSourceImage.reset(new QZMatrix(transform));
  }
  return result;
}

}  // namespace orvex
