// PNG and JPEG files of 8-bit images (one gray channel, or blue-green-red with an optional
// alpha channel): what hosts write as pictures of results. Decoding goes through
// QZMatrix::DecodeImageBytes and ReadQZMatrixFromFile.
//
// Threads: every function may be called from any thread.
#ifndef ORVEX_IMPROC_IMAGECODECS_H
#define ORVEX_IMPROC_IMAGECODECS_H

#include <orvex/foundation/Export.h>

#include <opencv2/core.hpp>

#include <string>
#include <vector>

namespace orvex {

// The image as a PNG file (fast compression, lossless; alpha kept) into *out; false,
// *out cleared, for an image that is not 8 bits with 1, 3 or 4 channels.
ORVEX_EXPORT bool EncodePng(const cv::Mat& image, std::vector<unsigned char>* out);
// The image as a baseline JPEG file of the given quality (1 to 100; alpha dropped).
ORVEX_EXPORT bool EncodeJpeg(const cv::Mat& image, int quality, std::vector<unsigned char>* out);
// Writes the image to `path` as a JPEG (quality 80) when the name ends in .jpg or .jpeg,
// else as a PNG; false when it cannot be encoded or written.
ORVEX_EXPORT bool WriteImageFile(const std::string& path, const cv::Mat& image);

// What the pixels that decoding gives for given bytes depend on: the version of the
// decoders' own code and that of libjpeg-turbo, whose inverse DCT and upsampling may change
// between releases (PNG decoding is lossless, so no library's version changes its pixels).
ORVEX_EXPORT std::string ImageDecoderIdentity();

}  // namespace orvex

#endif
