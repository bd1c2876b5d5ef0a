// Decoding JPEG files into the family's layouts; private to the image-processing library.
#ifndef ORVEX_IMPROC_CODECS_JPEGDECODER_H
#define ORVEX_IMPROC_CODECS_JPEGDECODER_H

#include <opencv2/core.hpp>

#include <cstddef>
#include <cstdint>

namespace orvex {
namespace codecs {

// Decodes the JPEG image in [data, data + length) with libjpeg-turbo's accurate DCT and
// smooth upsampling: 8-bit blue-green-red (a gray image's gray in all three, a CMYK or
// YCCK image converted), or one gray channel when `gray` (the luma of a colour image).
// The EXIF orientation is not applied. An empty matrix for a file that cannot be decoded
// or is wider or taller than `maxPixels` allows (checked from its header before anything
// is allocated); data the decoder can read past with a warning (a damaged scan, say)
// still gives the image it decodes. Throws std::bad_alloc.
cv::Mat DecodeJpeg(const unsigned char* data, std::size_t length, int64_t maxPixels, bool gray);

}  // namespace codecs
}  // namespace orvex

#endif
