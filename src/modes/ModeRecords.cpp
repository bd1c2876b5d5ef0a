// Canonical texts of the mode records.
#include <orvex/modes/ModeRecords.h>

#include <orvex/modes/ModeLiterals.h>

#include <charconv>
#include <cstddef>

namespace orvex {

namespace {

// Builds a canonical text piece by piece.
class CanonicalText {
 public:
  explicit CanonicalText(size_t expectedSize) { m_text.reserve(expectedSize); }

  // The literal of `value` among `literals`, in brackets; a value without a literal adds nothing.
  CanonicalText& Literal(const ModeLiteralList& literals, int32_t value) {
    if (const char* name = literals.NameOf(value)) {
      m_text += '[';
      m_text += name;
      m_text += ']';
    }
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
      .Literal(ModeLiteralsOf<QZVP_ColourConversionModeStruct>(), mode)
      .Literal(ChannelLiterals(), channel)
      .BracketedNumber(intArg1)
      .BracketedNumber(intArg2)
      .BracketedNumber(intArg3)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_GrayscaleTransformationModeStruct::ToString() const {
  return CanonicalText(32)
      .Literal(ModeLiteralsOf<QZVP_GrayscaleTransformationModeStruct>(), mode)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_LineExtractionModeStruct::ToString() const {
  return CanonicalText(32).Literal(ModeLiteralsOf<QZVP_LineExtractionModeStruct>(), mode).BracketedText(textArg1).BracketedText(textArg2).Take();
}

std::string QZVP_GrayscaleEnhancementModeStruct::ToString() const {
  return CanonicalText(64)
      .Literal(ModeLiteralsOf<QZVP_GrayscaleEnhancementModeStruct>(), mode)
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
  text.Literal(ModeLiteralsOf<QZVP_BinarizationModeStruct>(), mode);
  for (int32_t value : {intArg1, intArg2, intArg3, intArg4, intArg5, intArg6, intArg7, intArg8, intArg9, intArg10})
    text.BracketedNumber(value);
  return text.BracketedText(textArg1).BracketedText(textArg2).Take();
}

std::string QZVP_TextureDetectionModeStruct::ToString() const {
  return CanonicalText(48)
      .Literal(ModeLiteralsOf<QZVP_TextureDetectionModeStruct>(), mode)
      .BracketedNumber(intArg1)
      .BracketedText(textArg1)
      .BracketedText(textArg2)
      .Take();
}

std::string QZVP_TextFilterModeStruct::ToString() const {
  return CanonicalText(48)
      .Literal(ModeLiteralsOf<QZVP_TextFilterModeStruct>(), mode)
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
  text.Literal(ModeLiteralsOf<QZVP_RegionPredetectionModeStruct>(), mode).BracketedNumber(intArg1).BracketedNumber(intArg2).BracketedNumber(intArg3);
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
