// The eight mode records that parameterise the pipeline stages, and their modes.
//
// Records are plain values: copying copies every field, cachedHashId included. The
// cache library reads only `mode`; the processing stages interpret the rest, so the
// field order and widths are shared by every Orvex library. A record's canonical text
// (ToString) walks the field descriptions of <orvex/foundation/ModeRecordFields.h> and is
// defined in libOrvexImageProcessing, the lowest library, so that any library that sees
// the records can use it; the hashing templates are in <orvex/modes/ModeRecords.h>.
#ifndef ORVEX_FOUNDATION_MODERECORDTYPES_H
#define ORVEX_FOUNDATION_MODERECORDTYPES_H

#include <orvex/foundation/Export.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

enum ColourConversionMode : int32_t {
  CICM_SKIP = 0,
  CICM_GENERAL = 1,
  CICM_HSV = 2,
  CICM_REV = INT32_MIN
};

enum ColourChannel : int32_t {
  QZVP_H_CHANNEL = 1,
  QZVP_S_CHANNEL = 2,
  QZVP_V_CHANNEL = 4
};

enum GrayscaleTransformationMode : int32_t {
  GTM_SKIP = 0,
  GTM_INVERTED = 1,
  GTM_ORIGINAL = 2,
  GTM_AUTO = 4,
  GTM_REV = INT32_MIN
};

enum RegionPredetectionMode : int32_t {
  RPM_SKIP = 0,
  RPM_AUTO = 1,
  RPM_GENERAL = 2,
  RPM_GENERAL_RGB_CONTRAST = 4,
  RPM_GENERAL_GRAY_CONTRAST = 8,
  RPM_GENERAL_HSV_CONTRAST = 16,
  RPM_MANUAL_SPECIFICATION = 32,
  RPM_REV = INT32_MIN
};

enum GrayscaleEnhancementMode : int32_t {
  GEM_SKIP = 0,
  GEM_AUTO = 1,
  GEM_GENERAL = 2,
  GEM_GRAY_EQUALIZE = 4,
  GEM_GRAY_SMOOTH = 8,
  GEM_SHARPEN_SMOOTH = 16,
  GEM_REV = INT32_MIN
};

enum BinarizationMode : int32_t {
  BM_SKIP = 0,
  BM_AUTO = 1,
  BM_LOCAL_BLOCK = 2,
  BM_THRESHOLD = 4,
  BM_REV = INT32_MIN
};

enum TextureDetectionMode : int32_t {
  TDM_SKIP = 0,
  TDM_AUTO = 1,
  TDM_GENERAL_WIDTH_CONCENTRATION = 2,
  TDM_REV = INT32_MIN
};

enum TextFilterMode : int32_t {
  TFM_SKIP = 0,
  TFM_AUTO = 1,
  TFM_GENERAL_CONTOUR = 2,
  TFM_REV = INT32_MIN
};

// Line extraction differs from the other kinds: 0 is a real mode and 2 is the skip value.
enum LineExtractionMode : int32_t {
  LEM_GENERAL = 0,
  LEM_MARGIN_BASED = 1,
  LEM_SKIP = 2
};

// The intArg5 of a BM_LOCAL_BLOCK record that asks for both standard offsets (10 and 2).
constexpr int32_t kBinarizationOffsetBoth = -10000;

// A region given in relative terms (RPM_MANUAL_SPECIFICATION): its edges in percent of
// the image when regionMeasuredByPercentage is non-zero.
struct RelativeBarcodeRegion {
  int32_t regionMeasuredByPercentage;
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

struct ForeAndBackgroundColour {
  int32_t foreColour;
  int32_t backgroundColour;
  int32_t tolerance;
};

struct tagAspectRatioRange {
  int32_t minValue;
  int32_t maxValue;
};

struct tagHeightRange {
  int32_t minValue;
  int32_t maxValue;
};

struct tagWidthRange {
  int32_t minValue;
  int32_t maxValue;
};

struct ORVEX_EXPORT QZVP_ColourConversionModeStruct {
  int32_t mode = CICM_SKIP;
  int32_t channel = 0;
  int32_t intArg1 = 0;
  int32_t intArg2 = 0;
  int32_t intArg3 = 0;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_GrayscaleTransformationModeStruct {
  int32_t mode = GTM_SKIP;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  QZVP_GrayscaleTransformationModeStruct() = default;
  explicit QZVP_GrayscaleTransformationModeStruct(int32_t modeValue) : mode(modeValue) {}
  QZVP_GrayscaleTransformationModeStruct(const QZVP_GrayscaleTransformationModeStruct&) = default;
  QZVP_GrayscaleTransformationModeStruct(QZVP_GrayscaleTransformationModeStruct&&) noexcept = default;
  QZVP_GrayscaleTransformationModeStruct& operator=(const QZVP_GrayscaleTransformationModeStruct&) = default;
  QZVP_GrayscaleTransformationModeStruct& operator=(QZVP_GrayscaleTransformationModeStruct&&) noexcept = default;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_RegionPredetectionModeStruct {
  int32_t mode = RPM_SKIP;
  int32_t intArg1 = 0;
  int32_t intArg2 = 0;
  int32_t intArg3 = 0;
  std::vector<RelativeBarcodeRegion> relativeRegions;
  std::vector<ForeAndBackgroundColour> foreAndBackgroundColours;
  std::vector<tagAspectRatioRange> rangeList1;
  std::vector<tagHeightRange> rangeList2;
  std::vector<tagWidthRange> rangeList3;
  int32_t intArg4 = 0;
  int32_t intArg5 = 0;
  int32_t intPairArray[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  std::string textArg1;
  std::string textArg2;
  std::string textArg3;
  std::string cachedHashId;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_GrayscaleEnhancementModeStruct {
  int32_t mode = GEM_SKIP;
  int32_t intArg1 = 0;  // not part of the canonical text
  int32_t intArg2 = 0;
  int32_t intArg3 = 0;
  int32_t intArg4 = 0;
  int32_t intArg5 = 0;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_BinarizationModeStruct {
  int32_t mode = BM_SKIP;
  int32_t intArg1 = 0;
  int32_t intArg2 = 0;
  int32_t intArg3 = 0;
  int32_t intArg4 = 0;
  int32_t intArg5 = 0;
  int32_t intArg6 = 0;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;
  int32_t intArg7 = 0;
  int32_t intArg8 = 0;
  int32_t intArg9 = 0;
  int32_t intArg10 = 0;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_TextureDetectionModeStruct {
  int32_t mode = TDM_SKIP;
  int32_t intArg1 = 0;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_TextFilterModeStruct {
  int32_t mode = TFM_SKIP;
  int32_t intArg1 = 0;
  int32_t intArg2 = 0;
  int32_t intArg3 = 0;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  std::string ToString() const;
};

struct ORVEX_EXPORT QZVP_LineExtractionModeStruct {
  int32_t mode = LEM_GENERAL;
  std::string textArg1;
  std::string textArg2;
  std::string cachedHashId;

  std::string ToString() const;
};

// A copy of a record (or list of records) held by a pointer; a default one for null.
template <class Record>
Record CopyOfRecord(const Record* record) {
  return record != nullptr ? *record : Record();
}

}  // namespace orvex

#endif
