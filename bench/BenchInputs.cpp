#include "BenchInputs.h"

namespace orvex {
namespace bench {

const cv::Mat& TwelveMegapixels() {
  static const cv::Mat image = [] {
    cv::Mat m(3000, 4000, CV_8UC3);
    cv::randu(m, cv::Scalar::all(0), cv::Scalar::all(256));
    return m;
  }();
  return image;
}

QZ_ImageParameter LargeParameters(int binarizations) {
  QZ_ImageParameter p;
  for (int32_t channel : {0, int32_t(QZVP_S_CHANNEL), int32_t(QZVP_V_CHANNEL)}) {
    QZVP_ColourConversionModeStruct colour;
    colour.mode = channel == 0 ? CICM_GENERAL : CICM_HSV;
    colour.channel = channel;
    p.colourConversionModes.push_back(colour);
  }
  p.grayscaleTransformationModes = {QZVP_GrayscaleTransformationModeStruct(GTM_AUTO)};
  for (int32_t mode : {RPM_GENERAL, RPM_GENERAL_GRAY_CONTRAST, RPM_GENERAL_RGB_CONTRAST}) {
    QZVP_RegionPredetectionModeStruct regions;
    regions.mode = mode;
    p.regionPredetectionModes.push_back(regions);
  }
  for (int32_t mode : {GEM_GENERAL, GEM_GRAY_EQUALIZE, GEM_SHARPEN_SMOOTH}) {
    QZVP_GrayscaleEnhancementModeStruct enhancement;
    enhancement.mode = mode;
    p.grayscaleEnhancementModes.push_back(enhancement);
  }
  for (int32_t i = 0; i < binarizations; ++i) {
    QZVP_BinarizationModeStruct binarization;
    binarization.mode = BM_LOCAL_BLOCK;
    binarization.intArg1 = 11 + 2 * i;
    binarization.intArg5 = 10;
    p.binarizationModes.push_back(binarization);
  }
  p.textureDetectionModes.resize(1);
  p.textFilterModes.resize(1);
  for (int32_t mode : {LEM_GENERAL, LEM_MARGIN_BASED}) {
    QZVP_LineExtractionModeStruct lines;
    lines.mode = mode;
    p.lineExtractionModes.push_back(lines);
  }
  return p;
}

}  // namespace bench
}  // namespace orvex
