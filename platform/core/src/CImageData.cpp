#include <orvex/core/CImageData.h>

namespace orvex {
namespace core {

CImageData::CImageData() : m_bytes(nullptr), m_width(0), m_height(0), m_stride(0), m_format(IPF_GRAYSCALE_8) {}

CImageData::CImageData(const unsigned char* bytes, int width, int height, int stride, ImagePixelFormat format)
    : m_bytes(bytes), m_width(width), m_height(height), m_stride(stride), m_format(format) {}

const unsigned char* CImageData::GetBytes() const { return m_bytes; }
int CImageData::GetWidth() const { return m_width; }
int CImageData::GetHeight() const { return m_height; }
int CImageData::GetStride() const { return m_stride; }
ImagePixelFormat CImageData::GetImagePixelFormat() const { return m_format; }

void CImageData::Reset(const unsigned char* bytes, int width, int height, int stride, ImagePixelFormat format) {
  m_bytes = bytes;
  m_width = width;
  m_height = height;
  m_stride = stride;
  m_format = format;
}

}  // namespace core
}  // namespace orvex
