// The fields of every mode record, described once.
//
// Each description names a field as parameter files spell it, in the order of the record's
// canonical text, with the literals of its mode or channel and the range of an integer that
// a stage reads. The canonical texts (ToString), the range checks (CheckModeRecord) and the
// host kit's parameter-file reader and writer all walk these descriptions, so a new mode is
// added to its literal table and a new field to one description.
//
// A description is a function template over the record (const or not) and a visitor, which
// answers these calls, `Int` being int32_t or const int32_t and `Text` std::string or const:
//   Literal(name, Int& value, ModeLiteralList literals)  a value named by a literal list
//   Integer(name, Int& value, FieldRange range)          an integer of the canonical text
//   HiddenInteger(name, Int& value)                      an integer outside the canonical text
//   Text(name, Text& value)
//   IntegerArray(name, Int (&values)[8])
//   List(name, std::vector<Sub>& records, bool checked)  records described by ModeFields<Sub>;
//                                                        their ranges apply only when `checked`
// Thread-safe: the descriptions hold no state.
#ifndef ORVEX_FOUNDATION_MODERECORDFIELDS_H
#define ORVEX_FOUNDATION_MODERECORDFIELDS_H

#include <orvex/foundation/ModeLimits.h>
#include <orvex/foundation/ModeLiterals.h>
#include <orvex/foundation/ModeRecordTypes.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// The values an integer field accepts while `applies`; when it does not, any value is accepted.
struct FieldRange {
  bool applies;
  int64_t lowest;
  int64_t highest;
};

constexpr FieldRange kAnyValue{false, 0, 0};

constexpr FieldRange RangeWhen(bool applies, int64_t lowest, int64_t highest) { return {applies, lowest, highest}; }

template <class Record>
struct ModeFields;

template <>
struct ModeFields<QZVP_ColourConversionModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    const bool weighted = r.mode == CICM_GENERAL;
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_ColourConversionModeStruct>());
    v.Literal("channel", r.channel, ChannelLiterals());
    v.Integer("intArg1", r.intArg1, RangeWhen(weighted, 0, modelimits::kMaxWeight));
    v.Integer("intArg2", r.intArg2, RangeWhen(weighted, 0, modelimits::kMaxWeight));
    v.Integer("intArg3", r.intArg3, RangeWhen(weighted, 0, modelimits::kMaxWeight));
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

template <>
struct ModeFields<QZVP_GrayscaleTransformationModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_GrayscaleTransformationModeStruct>());
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

// The list records of region predetection write their numbers bare, one after another.
template <>
struct ModeFields<RelativeBarcodeRegion> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    const int64_t highest = r.regionMeasuredByPercentage != 0 ? modelimits::kMaxPercent : modelimits::kMaxPixelCoordinate;
    v.Integer("left", r.left, RangeWhen(true, 0, highest));
    v.Integer("top", r.top, RangeWhen(true, 0, highest));
    v.Integer("right", r.right, RangeWhen(true, 0, highest));
    v.Integer("regionMeasuredByPercentage", r.regionMeasuredByPercentage, kAnyValue);
    v.Integer("bottom", r.bottom, RangeWhen(true, 0, highest));
  }
};

template <>
struct ModeFields<ForeAndBackgroundColour> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Integer("backgroundColour", r.backgroundColour, kAnyValue);
    v.Integer("tolerance", r.tolerance, kAnyValue);
    v.Integer("foreColour", r.foreColour, kAnyValue);
  }
};

// The three range lists share one shape.
template <class Range>
struct RangeFields {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Integer("minValue", r.minValue, kAnyValue);
    v.Integer("maxValue", r.maxValue, kAnyValue);
  }
};
template <>
struct ModeFields<tagAspectRatioRange> : RangeFields<tagAspectRatioRange> {};
template <>
struct ModeFields<tagHeightRange> : RangeFields<tagHeightRange> {};
template <>
struct ModeFields<tagWidthRange> : RangeFields<tagWidthRange> {};

template <>
struct ModeFields<QZVP_RegionPredetectionModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    const bool manual = r.mode == RPM_MANUAL_SPECIFICATION;
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_RegionPredetectionModeStruct>());
    v.Integer("intArg1", r.intArg1, kAnyValue);
    v.Integer("intArg2", r.intArg2, kAnyValue);
    v.Integer("intArg3", r.intArg3, kAnyValue);
    v.List("relativeRegions", r.relativeRegions, manual);
    v.List("foreAndBackgroundColours", r.foreAndBackgroundColours, false);
    v.List("rangeList1", r.rangeList1, false);
    v.List("rangeList2", r.rangeList2, false);
    v.List("rangeList3", r.rangeList3, false);
    v.Integer("intArg4", r.intArg4, kAnyValue);
    v.Integer("intArg5", r.intArg5, kAnyValue);
    v.IntegerArray("intPairArray", r.intPairArray);
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
    v.Text("textArg3", r.textArg3);
  }
};

template <>
struct ModeFields<QZVP_GrayscaleEnhancementModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_GrayscaleEnhancementModeStruct>());
    v.HiddenInteger("intArg1", r.intArg1);
    v.Integer("intArg2", r.intArg2, RangeWhen(r.mode == GEM_GRAY_SMOOTH, 0, modelimits::kMaxKernel));
    v.Integer("intArg3", r.intArg3, kAnyValue);
    v.Integer("intArg4", r.intArg4, kAnyValue);
    v.Integer("intArg5", r.intArg5, kAnyValue);
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

template <>
struct ModeFields<QZVP_BinarizationModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    const bool block = r.mode == BM_LOCAL_BLOCK;
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_BinarizationModeStruct>());
    v.Integer("intArg1", r.intArg1, RangeWhen(block, 0, modelimits::kMaxBlock));
    v.Integer("intArg2", r.intArg2, RangeWhen(block, 0, modelimits::kMaxBlock));
    v.Integer("intArg3", r.intArg3, kAnyValue);
    v.Integer("intArg4", r.intArg4, kAnyValue);
    // kBinarizationOffsetBoth asks the mode-list rules to expand the record before any stage runs.
    v.Integer("intArg5", r.intArg5,
              RangeWhen(block && r.intArg5 != kBinarizationOffsetBoth, -modelimits::kMaxOffset, modelimits::kMaxOffset));
    v.Integer("intArg6", r.intArg6, kAnyValue);
    v.Integer("intArg7", r.intArg7, kAnyValue);
    v.Integer("intArg8", r.intArg8, kAnyValue);
    v.Integer("intArg9", r.intArg9, kAnyValue);
    v.Integer("intArg10", r.intArg10, kAnyValue);
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

template <>
struct ModeFields<QZVP_TextureDetectionModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_TextureDetectionModeStruct>());
    v.Integer("intArg1", r.intArg1, RangeWhen(r.mode != TDM_SKIP, 0, modelimits::kMaxWindow));
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

template <>
struct ModeFields<QZVP_TextFilterModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_TextFilterModeStruct>());
    v.Integer("intArg1", r.intArg1, RangeWhen(r.mode != TFM_SKIP, 0, modelimits::kMaxComponentArea));
    v.Integer("intArg2", r.intArg2, kAnyValue);
    v.Integer("intArg3", r.intArg3, kAnyValue);
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

template <>
struct ModeFields<QZVP_LineExtractionModeStruct> {
  template <class R, class V>
  static void Visit(R& r, V& v) {
    v.Literal("mode", r.mode, ModeLiteralsOf<QZVP_LineExtractionModeStruct>());
    v.Text("textArg1", r.textArg1);
    v.Text("textArg2", r.textArg2);
  }
};

}  // namespace orvex

#endif
