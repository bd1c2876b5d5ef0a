/* Stage and media types of the stage results. Usable from C and C++. */
#ifndef ORVEX_TAV_ENUMS_H
#define ORVEX_TAV_ENUMS_H

#include <orvex/foundation/Export.h>

#ifdef __cplusplus
namespace orvex {
namespace tav {
#endif

/* The 23 pipeline stages in pipeline order: 1 to 8 work on the whole image, 9 to 23
   on one region. 24 to 28 are reserved; no node or result carries them. */
typedef enum DataUnitStageType ORVEX_ENUM_INT {
  DUST_SOURCE_IMAGE = 1,
  DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING = 2,
  DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN = 3,
  DUST_COLOUR_IMAGE_FOR_ROI = 4,
  DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED = 5,
  DUST_GRAYSCALE_IMAGE_TRANSFORMED = 6,
  DUST_GRAYSCALE_IMAGE_FOR_ROI = 7,
  DUST_CANDIDATE_ROIS = 8,
  DUST_ROI_COLOUR_IMAGE = 9,
  DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED = 10,
  DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED = 11,
  DUST_ROI_GRAYSCALE_IMAGE = 12,
  DUST_ROI_GRAYSCALE_IMAGE_ROTATED = 13,
  DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED = 14,
  DUST_ROI_GRAYSCALE_IMAGE_ENHANCED = 15,
  DUST_ROI_GRAY_IMAGE_PROCESSED = 16,
  DUST_ROI_BINARY_IMAGE = 17,
  DUST_ROI_TEXTURE_DETECTION_RESULT = 18,
  DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING = 19,
  DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING = 20,
  DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING = 21,
  DUST_CONTOURS = 22,
  DUST_LINE_SEGMENTS = 23
} DataUnitStageType;

/* The kind of a result. Results that are not images (candidate regions, texture
   detection results, contours, line segments) carry DUMT_NONE. */
typedef enum DataUnitMediaType ORVEX_ENUM_INT {
  DUMT_NONE = 0,
  DUMT_IMAGE = 1
} DataUnitMediaType;

#ifdef __cplusplus
}  // namespace tav
}  // namespace orvex
#endif

#endif
