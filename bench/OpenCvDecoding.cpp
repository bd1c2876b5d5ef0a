// A library that, once loaded into a process (linked, LD_PRELOADed or loaded by Python's
// ctypes), makes the Orvex libraries decode image files with OpenCV's codecs as they did
// before they had decoders of their own: the old path, for the benchmarks' comparisons.
#include <orvex/improc/Enums.h>
#include <orvex/improc/QZMatrix.h>

#include <opencv2/imgcodecs.hpp>

namespace {

cv::Mat DecodeWithOpenCv(const unsigned char* bytes, size_t length, int mode) {
  const cv::Mat encoded(1, static_cast<int>(length), CV_8UC1, const_cast<unsigned char*>(bytes));
  return cv::imdecode(encoded, mode == orvex::QZLM_GRAYSCALE ? cv::IMREAD_GRAYSCALE : cv::IMREAD_UNCHANGED);
}

struct Install {
  Install() { orvex::QZMatrix::SetDecoderForComparison(&DecodeWithOpenCv); }
} g_install;

}  // namespace
