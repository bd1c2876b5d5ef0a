// Canonical texts of the mode records.
#include <orvex/modes/ModeRecords.h>

#include <charconv>
#include <cstddef>

namespace orvex {

namespace {

struct LiteralEntry {
  int32_t value;
  const char* text;
};

template <size_t N>
const char* LiteralOf(const LiteralEntry (&table)[N], int32_t value) {
  for (const LiteralEntry& entry : table)
    if (entry.value == value) return entry.text;
  return nullptr;
}

constexpr LiteralEntry kColourConversionLiterals[] = {
    {CICM_SKIP, "[CICM_SKIP]"}, {CICM_GENERAL, "[CICM_GENERAL]"}, {CICM_HSV, "[CICM_HSV]"}, {CICM_REV, "[CICM_REV]"}};
constexpr LiteralEntry kChannelLiterals[] = {
    {QZVP_H_CHANNEL, "[QZVP_H_CHANNEL]"}, {QZVP_S_CHANNEL, "[QZVP_S_CHANNEL]"}, {QZVP_V_CHANNEL, "[QZVP_V_CHANNEL]"}};
constexpr LiteralEntry kGrayscaleTransformationLiterals[] = {{GTM_SKIP, "[GTM_SKIP]"},
                                                        {GTM_INVERTED, "[GTM_INVERTED]"},
                                                        {GTM_ORIGINAL, "[GTM_ORIGINAL]"},
                                                        {GTM_AUTO, "[GTM_AUTO]"},
                                                        {GTM_REV, "[GTM_REV]"}};
constexpr LiteralEntry kRegionPredetectionLiterals[] = {{RPM_SKIP, "[RPM_SKIP]"},
                                                   {RPM_AUTO, "[RPM_AUTO]"},
                                                   {RPM_GENERAL, "[RPM_GENERAL]"},
                                                   {RPM_GENERAL_RGB_CONTRAST, "[RPM_GENERAL_RGB_CONTRAST]"},
                                                   {RPM_GENERAL_GRAY_CONTRAST, "[RPM_GENERAL_GRAY_CONTRAST]"},
                                                   {RPM_GENERAL_HSV_CONTRAST, "[RPM_GENERAL_HSV_CONTRAST]"},
                                                   {RPM_MANUAL_SPECIFICATION, "[RPM_MANUAL_SPECIFICATION]"},
                                                   {RPM_REV, "[RPM_REV]"}};
constexpr LiteralEntry kGrayscaleEnhancementLiterals[] = {{GEM_SKIP, "[GEM_SKIP]"},
                                                     {GEM_AUTO, "[GEM_AUTO]"},
                                                     {GEM_GENERAL, "[GEM_GENERAL]"},
                                                     {GEM_GRAY_EQUALIZE, "[GEM_GRAY_EQUALIZE]"},
                                                     {GEM_GRAY_SMOOTH, "[GEM_GRAY_SMOOTH]"},
                                                     {GEM_SHARPEN_SMOOTH, "[GEM_SHARPEN_SMOOTH]"},
                                                     {GEM_REV, "[GEM_REV]"}};
constexpr LiteralEntry kBinarizationLiterals[] = {{BM_SKIP, "[BM_SKIP]"},
                                             {BM_AUTO, "[BM_AUTO]"},
                                             {BM_LOCAL_BLOCK, "[BM_LOCAL_BLOCK]"},
                                             {BM_THRESHOLD, "[BM_THRESHOLD]"},
                                             {BM_REV, "[BM_REV]"}};
constexpr LiteralEntry kTextureDetectionLiterals[] = {{TDM_SKIP, "[TDM_SKIP]"},
                                                 {TDM_AUTO, "[TDM_AUTO]"},
                                                 {TDM_GENERAL_WIDTH_CONCENTRATION, "[TDM_GENERAL_WIDTH_CONCENTRATION]"},
                                                 {TDM_REV, "[TDM_REV]"}};
constexpr LiteralEntry kTextFilterLiterals[] = {
    {TFM_SKIP, "[TFM_SKIP]"}, {TFM_AUTO, "[TFM_AUTO]"}, {TFM_GENERAL_CONTOUR, "[TFM_GENERAL_CONTOUR]"}, {TFM_REV, "[TFM_REV]"}};
constexpr LiteralEntry kLineExtractionLiterals[] = {
    {LEM_GENERAL, "[LEM_GENERAL]"}, {LEM_MARGIN_BASED, "[LEM_MARGIN_BASED]"}, {LEM_SKIP, "[LEM_SKIP]"}};

// Builds a canonical text piece by piece.
class CanonicalText {
 public:
  explicit CanonicalText(size_t expectedSize) { m_text.reserve(expectedSize); }

  // The literal of `value` in `table`; a value without a literal adds nothing.
  template <size_t N>
  CanonicalText& Literal(const LiteralEntry (&table)[N], int32_t value) {
    if (const char* text = LiteralOf(table, value)) m_text += text;
    return *this;
  }
  CanonicalText& Number(int32_t value) {
    char digits[12];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    m_text.append(digits, end);
    return *this;
  }
  CanonicalText& BracketedNumber(int32_t value) {
    m_text += '[';
    Number(value);
    m_text += ']';
    return *this;
  }
  // "[" v0 "," v1 "," ... "]"
  CanonicalText& BracketedNumberList(const int32_t* values, int count) {
    m_text += '[';
    for (int i = 0; i < count; ++i) {
      if (i > 0) m_text += ',';
      Number(values[i]);
    }
    m_text += ']';
    return *this;
  }
  CanonicalText& BracketedText(const std::string& value) {
    m_text += '[';
    m_text += value;
    m_text += ']';
    return *this;
  }
  std::string Take() { return std::move(m_text); }

 private:
  std::string m_text;
};

}  // namespace

std::string QZVP_ColourConversionModeStruct::ToString() const {
  return CanonicalText(64)
      .Literal(kColourConversionLiterals, mode)
      .Literal(kChannelLiterals, channel)
      .BracketedNumber(intArg1)
      .BracketedNumber(intArg2)
      .BracketedNumber(intArg3)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_GrayscaleTransformationModeStruct::ToString() const {
  return CanonicalText(32)
      .Literal(kGrayscaleTransformationLiterals, mode)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_LineExtractionModeStruct::ToString() const {
  return CanonicalText(32).Literal(kLineExtractionLiterals, mode).BracketedText(textArg1).BracketedText(textArg2).Take();
}

std::string QZVP_GrayscaleEnhancementModeStruct::ToString() const {
  return CanonicalText(64)
      .Literal(kGrayscaleEnhancementLiterals, mode)
      .BracketedNumber(intArg2)
      .BracketedNumber(intArg3)
      .BracketedNumber(intArg4)
      .BracketedNumber(intArg5)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_BinarizationModeStruct::ToString() const {
  CanonicalText text(80);
  text.Literal(kBinarizationLiterals, mode);
  for (int32_t value : {intArg1, intArg2, intArg3, intArg4, intArg5, intArg6, intArg7, intArg8, intArg9, intArg10})
    text.BracketedNumber(value);
  return text.BracketedText(textArg1).BracketedText(textArg2).Take();
}

std::string QZVP_TextureDetectionModeStruct::ToString() const {
  return CanonicalText(48)
      .Literal(kTextureDetectionLiterals, mode)
      .BracketedNumber(intArg1)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_TextFilterModeStruct::ToString() const {
  return CanonicalText(48)
      .Literal(kTextFilterLiterals, mode)
      .BracketedNumber(intArg1)
      .BracketedNumber(intArg2)
      .BracketedNumber(intArg3)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_RegionPredetectionModeStruct::ToString() const {
  const size_t listNumbers = 5 * relativeRegions.size() + 3 * foreAndBackgroundColours.size() +
                             2 * (rangeList1.size() + rangeList2.size() + rangeList3.size());
  CanonicalText text(96 + 11 * listNumbers + textArg1.size() + textArg2.size() + textArg3.size());
  text.Literal(kRegionPredetectionLiterals, mode).BracketedNumber(intArg1).BracketedNumber(intArg2).BracketedNumber(intArg3);
  // List numbers run together with no brackets or separators.
  for (const RelativeBarcodeRegion& r : relativeRegions)
    text.Number(r.left).Number(r.top).Number(r.right).Number(r.regionMeasuredByPercentage).Number(r.bottom);
  for (const ForeAndBackgroundColour& c : foreAndBackgroundColours)
    text.Number(c.backgroundColour).Number(c.tolerance).Number(c.foreColour);
  for (const tagAspectRatioRange& r : rangeList1) text.Number(r.minValue).Number(r.maxValue);
  for (const tagHeightRange& r : rangeList2) text.Number(r.minValue).Number(r.maxValue);
  for (const tagWidthRange& r : rangeList3) text.Number(r.minValue).Number(r.maxValue);
  return text.BracketedNumber(intArg4)
      .BracketedNumber(intArg5)
      .BracketedNumberList(intPairArray, 8)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .BracketedText(textArg3)
      .Take();
}

}  // namespace orvex
