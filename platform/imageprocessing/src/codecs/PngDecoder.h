// Decoding PNG files into the family's colour layout; private to the image-processing
// library.
#ifndef ORVEX_IMPROC_CODECS_PNGDECODER_H
#define ORVEX_IMPROC_CODECS_PNGDECODER_H

#include <opencv2/core.hpp>

#include <cstddef>

namespace orvex {
namespace codecs {

// Decodes the PNG image in [data, data + length): 8-bit blue-green-red, or
// blue-green-red-alpha when the image has an alpha channel or transparency (a colour or
// palette image with a tRNS chunk; gray images keep no alpha from tRNS). Samples of 16
// bits are rounded to 8 (v / 257), gray samples of fewer bits are scaled to 0..255, and
// gamma, colour profiles and orientation are not applied. Checks every chunk's CRC, the
// zlib checksum and that the image data holds exactly the rows the header declares; an
// empty matrix for any file that breaks a rule, and for one wider or taller than
// `maxPixels` allows (checked before anything is allocated). Throws std::bad_alloc.
cv::Mat DecodePng(const unsigned char* data, std::size_t length, int64_t maxPixels);

}  // namespace codecs
}  // namespace orvex

#endif
