// Caller-facing image: a view of pixel bytes with their layout.
//
// Ownership: a CImageData never owns its bytes. Whoever hands one out keeps the
// pixels alive while the view is in use (a processing stage keeps them as long as
// the stage object lives). Not synchronised: one view is not written from two threads.
#ifndef ORVEX_CORE_CIMAGEDATA_H
#define ORVEX_CORE_CIMAGEDATA_H

#include <orvex/foundation/Export.h>
#include <orvex/core/ImagePixelFormat.h>

namespace orvex {
namespace core {

class ORVEX_EXPORT CImageData {
 public:
  CImageData();
  // REQUIRES: bytes holds height rows of stride bytes each, and outlives the view.
  CImageData(const unsigned char* bytes, int width, int height, int stride, ImagePixelFormat format);

  const unsigned char* GetBytes() const;
  int GetWidth() const;
  int GetHeight() const;
  int GetStride() const;
  ImagePixelFormat GetImagePixelFormat() const;

  // Points the view at other pixels; the same requirement as the constructor.
  void Reset(const unsigned char* bytes, int width, int height, int stride, ImagePixelFormat format);

 private:
  const unsigned char* m_bytes;
  int m_width;
  int m_height;
  int m_stride;
  ImagePixelFormat m_format;
};

// A point of a quadrilateral, in pixels.
struct CPoint {
  int x = 0;
  int y = 0;
};

// Four corner points, in order around the shape.
struct CQuadrilateral {
  CPoint points[4];
};

}  // namespace core
}  // namespace orvex

#endif
