// One set of processing parameters: the mode lists of every stage and the scaling-down value.
#ifndef ORVEX_IMPROC_QZ_IMAGEPARAMETER_H
#define ORVEX_IMPROC_QZ_IMAGEPARAMETER_H

#include <orvex/foundation/ModeRecordTypes.h>

#include <cstdint>
#include <vector>

namespace orvex {

struct QZ_ImageParameter {
  std::vector<QZVP_RegionPredetectionModeStruct> regionPredetectionModes;
  // Longest side the scaled-down colour image may have; 0 or less keeps the size.
  int32_t scalingDownValue = 0;
  std::vector<QZVP_ColourConversionModeStruct> colourConversionModes;
  std::vector<QZVP_GrayscaleTransformationModeStruct> grayscaleTransformationModes;
  std::vector<QZVP_GrayscaleEnhancementModeStruct> grayscaleEnhancementModes;
  std::vector<QZVP_BinarizationModeStruct> binarizationModes;
  std::vector<QZVP_TextureDetectionModeStruct> textureDetectionModes;
  std::vector<QZVP_TextFilterModeStruct> textFilterModes;
  std::vector<QZVP_LineExtractionModeStruct> lineExtractionModes;
};

}  // namespace orvex

#endif
