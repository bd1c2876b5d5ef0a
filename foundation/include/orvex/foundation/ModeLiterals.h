// The literals of the mode values and channels, named once beside the constants: the
// canonical texts write them in brackets ("[GEM_SKIP]"), parameter files without
// ("GEM_SKIP"), and the processing stages' messages name a mode by them.
#ifndef ORVEX_FOUNDATION_MODELITERALS_H
#define ORVEX_FOUNDATION_MODELITERALS_H

#include <orvex/foundation/ModeRecordTypes.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvex {

struct ModeLiteral {
  int32_t value;
  const char* name;  // without brackets
};

// The literals of one kind of value, in the order of their values.
struct ModeLiteralList {
  const ModeLiteral* begin() const { return first; }
  const ModeLiteral* end() const { return first + count; }
  // The literal of `value`, or null when the kind has no constant of that value.
  const char* NameOf(int32_t value) const {
    for (const ModeLiteral& literal : *this)
      if (literal.value == value) return literal.name;
    return nullptr;
  }
  // Whether `name` is a literal of the kind; its value into *value.
  bool ValueOf(const std::string& name, int32_t* value) const {
    for (const ModeLiteral& literal : *this) {
      if (name == literal.name) {
        *value = literal.value;
        return true;
      }
    }
    return false;
  }
  // Every literal, separated by ", ": for messages.
  std::string Names() const {
    std::string names;
    for (const ModeLiteral& literal : *this) names += (names.empty() ? "" : ", ") + std::string(literal.name);
    return names;
  }

  const ModeLiteral* first;
  std::size_t count;
};

namespace literals {

inline constexpr ModeLiteral kColourConversion[] = {
    {CICM_SKIP, "CICM_SKIP"}, {CICM_GENERAL, "CICM_GENERAL"}, {CICM_HSV, "CICM_HSV"}, {CICM_REV, "CICM_REV"}};
inline constexpr ModeLiteral kChannels[] = {
    {QZVP_H_CHANNEL, "QZVP_H_CHANNEL"}, {QZVP_S_CHANNEL, "QZVP_S_CHANNEL"}, {QZVP_V_CHANNEL, "QZVP_V_CHANNEL"}};
inline constexpr ModeLiteral kGrayscaleTransformation[] = {{GTM_SKIP, "GTM_SKIP"},
                                                           {GTM_INVERTED, "GTM_INVERTED"},
                                                           {GTM_ORIGINAL, "GTM_ORIGINAL"},
                                                           {GTM_AUTO, "GTM_AUTO"},
                                                           {GTM_REV, "GTM_REV"}};
inline constexpr ModeLiteral kRegionPredetection[] = {{RPM_SKIP, "RPM_SKIP"},
                                                      {RPM_AUTO, "RPM_AUTO"},
                                                      {RPM_GENERAL, "RPM_GENERAL"},
                                                      {RPM_GENERAL_RGB_CONTRAST, "RPM_GENERAL_RGB_CONTRAST"},
                                                      {RPM_GENERAL_GRAY_CONTRAST, "RPM_GENERAL_GRAY_CONTRAST"},
                                                      {RPM_GENERAL_HSV_CONTRAST, "RPM_GENERAL_HSV_CONTRAST"},
                                                      {RPM_MANUAL_SPECIFICATION, "RPM_MANUAL_SPECIFICATION"},
                                                      {RPM_REV, "RPM_REV"}};
inline constexpr ModeLiteral kGrayscaleEnhancement[] = {{GEM_SKIP, "GEM_SKIP"},
                                                        {GEM_AUTO, "GEM_AUTO"},
                                                        {GEM_GENERAL, "GEM_GENERAL"},
                                                        {GEM_GRAY_EQUALIZE, "GEM_GRAY_EQUALIZE"},
                                                        {GEM_GRAY_SMOOTH, "GEM_GRAY_SMOOTH"},
                                                        {GEM_SHARPEN_SMOOTH, "GEM_SHARPEN_SMOOTH"},
                                                        {GEM_REV, "GEM_REV"}};
inline constexpr ModeLiteral kBinarization[] = {{BM_SKIP, "BM_SKIP"},
                                                {BM_AUTO, "BM_AUTO"},
                                                {BM_LOCAL_BLOCK, "BM_LOCAL_BLOCK"},
                                                {BM_THRESHOLD, "BM_THRESHOLD"},
                                                {BM_REV, "BM_REV"}};
inline constexpr ModeLiteral kTextureDetection[] = {{TDM_SKIP, "TDM_SKIP"},
                                                    {TDM_AUTO, "TDM_AUTO"},
                                                    {TDM_GENERAL_WIDTH_CONCENTRATION, "TDM_GENERAL_WIDTH_CONCENTRATION"},
                                                    {TDM_REV, "TDM_REV"}};
inline constexpr ModeLiteral kTextFilter[] = {
    {TFM_SKIP, "TFM_SKIP"}, {TFM_AUTO, "TFM_AUTO"}, {TFM_GENERAL_CONTOUR, "TFM_GENERAL_CONTOUR"}, {TFM_REV, "TFM_REV"}};
inline constexpr ModeLiteral kLineExtraction[] = {
    {LEM_GENERAL, "LEM_GENERAL"}, {LEM_MARGIN_BASED, "LEM_MARGIN_BASED"}, {LEM_SKIP, "LEM_SKIP"}};

template <std::size_t N>
constexpr ModeLiteralList ListOf(const ModeLiteral (&table)[N]) {
  return ModeLiteralList{table, N};
}

template <class Record>
struct Of;
template <>
struct Of<QZVP_ColourConversionModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kColourConversion);
};
template <>
struct Of<QZVP_GrayscaleTransformationModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kGrayscaleTransformation);
};
template <>
struct Of<QZVP_RegionPredetectionModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kRegionPredetection);
};
template <>
struct Of<QZVP_GrayscaleEnhancementModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kGrayscaleEnhancement);
};
template <>
struct Of<QZVP_BinarizationModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kBinarization);
};
template <>
struct Of<QZVP_TextureDetectionModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kTextureDetection);
};
template <>
struct Of<QZVP_TextFilterModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kTextFilter);
};
template <>
struct Of<QZVP_LineExtractionModeStruct> {
  static constexpr ModeLiteralList kList = ListOf(kLineExtraction);
};

}  // namespace literals

// The mode literals of a record type (ModeLiteralsOf<QZVP_BinarizationModeStruct>()).
template <class Record>
constexpr ModeLiteralList ModeLiteralsOf() {
  return literals::Of<Record>::kList;
}

// The literals of the colour-conversion record's channel.
constexpr ModeLiteralList ChannelLiterals() { return literals::ListOf(literals::kChannels); }

// A record's mode in words: its literal, or "mode <n>" for a value without one.
template <class Record>
std::string DescribeModeRecord(const Record& record) {
  const char* name = ModeLiteralsOf<Record>().NameOf(record.mode);
  return name != nullptr ? std::string(name) : "mode " + std::to_string(record.mode);
}
// A list of records' modes in words, joined by "+"; "no records" for an empty list.
template <class Record>
std::string DescribeModeRecord(const std::vector<Record>& records) {
  std::string text;
  for (const Record& record : records) text += (text.empty() ? "" : "+") + DescribeModeRecord(record);
  return text.empty() ? "no records" : text;
}

}  // namespace orvex

#endif
