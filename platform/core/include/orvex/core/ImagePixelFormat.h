// Pixel layouts of caller images. Usable from C and C++.
#ifndef ORVEX_CORE_IMAGEPIXELFORMAT_H
#define ORVEX_CORE_IMAGEPIXELFORMAT_H

#include <orvex/foundation/Export.h>

#ifdef __cplusplus
namespace orvex {
namespace core {
#endif

typedef enum ImagePixelFormat ORVEX_ENUM_INT {
  IPF_GRAYSCALE_8 = 1, /* one byte per pixel */
  IPF_BGR_888 = 2,     /* three bytes per pixel, blue first */
  IPF_RGB_888 = 3,     /* three bytes per pixel, red first */
  IPF_BGRA_8888 = 4,   /* four bytes per pixel, blue first, alpha last */
  IPF_RGBA_8888 = 5    /* four bytes per pixel, red first, alpha last */
} ImagePixelFormat;

#ifdef __cplusplus
/* Bytes per pixel of a format, 0 for a value that names no format. */
inline int BytesPerPixel(ImagePixelFormat format) {
  switch (format) {
    case IPF_GRAYSCALE_8: return 1;
    case IPF_BGR_888:
    case IPF_RGB_888: return 3;
    case IPF_BGRA_8888:
    case IPF_RGBA_8888: return 4;
  }
  return 0;
}
}  // namespace core
}  // namespace orvex
#endif

#endif
