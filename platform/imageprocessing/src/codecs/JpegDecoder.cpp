// JPEG decoding through the TurboJPEG interface of libjpeg-turbo.
#include "JpegDecoder.h"

#include <orvex/improc/ImageCodecs.h>

#include <opencv2/imgproc.hpp>
#include <jconfig.h>
#include <turbojpeg.h>

#include <climits>
#include <memory>
#include <new>
#include <string>

namespace orvex {
namespace codecs {

namespace {

struct Destroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// The thread's decompressor, made on first use and kept.
tjhandle Decompressor() {
  thread_local std::unique_ptr<void, Destroy> handle;
  if (!handle) {
    handle.reset(tjInitDecompress());
    if (!handle) throw std::bad_alloc();
  }
  return handle.get();
}

// CMYK samples as libjpeg gives them (Adobe's inverted convention) to blue-green-red.
void CmykToBgr(const cv::Mat& cmyk, cv::Mat& bgr) {
  for (int y = 0; y < cmyk.rows; ++y) {
    const unsigned char* in = cmyk.ptr(y);
    unsigned char* out = bgr.ptr(y);
    for (int x = 0; x < cmyk.cols; ++x, in += 4, out += 3) {
      const int k = in[3];
      out[2] = static_cast<unsigned char>(k - ((255 - in[0]) * k >> 8));
      out[1] = static_cast<unsigned char>(k - ((255 - in[1]) * k >> 8));
      out[0] = static_cast<unsigned char>(k - ((255 - in[2]) * k >> 8));
    }
  }
}

}  // namespace

cv::Mat DecodeJpeg(const unsigned char* data, std::size_t length, int64_t maxPixels, bool gray) {
  if (length > ULONG_MAX) return cv::Mat();
  tjhandle handle = Decompressor();
  int width = 0, height = 0, subsampling = 0, colourspace = 0;
  if (tjDecompressHeader3(handle, data, static_cast<unsigned long>(length), &width, &height, &subsampling, &colourspace) != 0 ||
      width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > maxPixels) {
    return cv::Mat();
  }
  const bool cmyk = colourspace == TJCS_CMYK || colourspace == TJCS_YCCK;
  const bool grayInput = colourspace == TJCS_GRAY;
  const auto decode = [&](cv::Mat& into, int format) {
    // A warning (a damaged scan the decoder reads past) still leaves the decoded image.
    return tjDecompress2(handle, data, static_cast<unsigned long>(length), into.data, width, static_cast<int>(into.step),
                         height, format, 0) == 0 ||
           tjGetErrorCode(handle) == TJERR_WARNING;
  };
  if (cmyk) {
    cv::Mat samples(height, width, CV_8UC4);
    if (!decode(samples, TJPF_CMYK)) return cv::Mat();
    cv::Mat bgr(height, width, CV_8UC3);
    CmykToBgr(samples, bgr);
    if (!gray) return bgr;
    cv::Mat luma;
    cv::cvtColor(bgr, luma, cv::COLOR_BGR2GRAY);
    return luma;
  }
  if (gray || grayInput) {
    cv::Mat luma(height, width, CV_8UC1);
    if (!decode(luma, TJPF_GRAY)) return cv::Mat();
    if (gray) return luma;
    cv::Mat bgr;
    cv::cvtColor(luma, bgr, cv::COLOR_GRAY2BGR);
    return bgr;
  }
  cv::Mat bgr(height, width, CV_8UC3);
  if (!decode(bgr, TJPF_BGR)) return cv::Mat();
  return bgr;
}

}  // namespace codecs

// Raise kDecoderCodeVersion whenever either decoder gives other pixels for the same bytes.
std::string ImageDecoderIdentity() {
  constexpr int kDecoderCodeVersion = 1;
  return "orvex-decoders-" + std::to_string(kDecoderCodeVersion) + "/libjpeg-turbo-" +
         std::to_string(LIBJPEG_TURBO_VERSION_NUMBER);
}

}  // namespace orvex
