// The literal tables of the mode values and channels.
#include <orvex/modes/ModeLiterals.h>

#include <cstring>

namespace orvex {

namespace {

template <std::size_t N>
constexpr ModeLiteralList ListOf(const ModeLiteral (&table)[N]) {
  return ModeLiteralList{table, N};
}

constexpr ModeLiteral kColourConversion[] = {
    {CICM_SKIP, "CICM_SKIP"}, {CICM_GENERAL, "CICM_GENERAL"}, {CICM_HSV, "CICM_HSV"}, {CICM_REV, "CICM_REV"}};
constexpr ModeLiteral kChannels[] = {
    {QZVP_H_CHANNEL, "QZVP_H_CHANNEL"}, {QZVP_S_CHANNEL, "QZVP_S_CHANNEL"}, {QZVP_V_CHANNEL, "QZVP_V_CHANNEL"}};
constexpr ModeLiteral kGrayscaleTransformation[] = {{GTM_SKIP, "GTM_SKIP"},
                                                    {GTM_INVERTED, "GTM_INVERTED"},
                                                    {GTM_ORIGINAL, "GTM_ORIGINAL"},
                                                    {GTM_AUTO, "GTM_AUTO"},
                                                    {GTM_REV, "GTM_REV"}};
constexpr ModeLiteral kRegionPredetection[] = {{RPM_SKIP, "RPM_SKIP"},
                                               {RPM_AUTO, "RPM_AUTO"},
                                               {RPM_GENERAL, "RPM_GENERAL"},
                                               {RPM_GENERAL_RGB_CONTRAST, "RPM_GENERAL_RGB_CONTRAST"},
                                               {RPM_GENERAL_GRAY_CONTRAST, "RPM_GENERAL_GRAY_CONTRAST"},
                                               {RPM_GENERAL_HSV_CONTRAST, "RPM_GENERAL_HSV_CONTRAST"},
                                               {RPM_MANUAL_SPECIFICATION, "RPM_MANUAL_SPECIFICATION"},
                                               {RPM_REV, "RPM_REV"}};
constexpr ModeLiteral kGrayscaleEnhancement[] = {{GEM_SKIP, "GEM_SKIP"},
                                                 {GEM_AUTO, "GEM_AUTO"},
                                                 {GEM_GENERAL, "GEM_GENERAL"},
                                                 {GEM_GRAY_EQUALIZE, "GEM_GRAY_EQUALIZE"},
                                                 {GEM_GRAY_SMOOTH, "GEM_GRAY_SMOOTH"},
                                                 {GEM_SHARPEN_SMOOTH, "GEM_SHARPEN_SMOOTH"},
                                                 {GEM_REV, "GEM_REV"}};
constexpr ModeLiteral kBinarization[] = {
    {BM_SKIP, "BM_SKIP"}, {BM_AUTO, "BM_AUTO"}, {BM_LOCAL_BLOCK, "BM_LOCAL_BLOCK"}, {BM_THRESHOLD, "BM_THRESHOLD"}, {BM_REV, "BM_REV"}};
constexpr ModeLiteral kTextureDetection[] = {{TDM_SKIP, "TDM_SKIP"},
                                             {TDM_AUTO, "TDM_AUTO"},
                                             {TDM_GENERAL_WIDTH_CONCENTRATION, "TDM_GENERAL_WIDTH_CONCENTRATION"},
                                             {TDM_REV, "TDM_REV"}};
constexpr ModeLiteral kTextFilter[] = {
    {TFM_SKIP, "TFM_SKIP"}, {TFM_AUTO, "TFM_AUTO"}, {TFM_GENERAL_CONTOUR, "TFM_GENERAL_CONTOUR"}, {TFM_REV, "TFM_REV"}};
constexpr ModeLiteral kLineExtraction[] = {
    {LEM_GENERAL, "LEM_GENERAL"}, {LEM_MARGIN_BASED, "LEM_MARGIN_BASED"}, {LEM_SKIP, "LEM_SKIP"}};

}  // namespace

const char* ModeLiteralList::NameOf(int32_t value) const {
  for (const ModeLiteral& literal : *this)
    if (literal.value == value) return literal.name;
  return nullptr;
}

bool ModeLiteralList::ValueOf(const std::string& name, int32_t* value) const {
  for (const ModeLiteral& literal : *this) {
    if (name == literal.name) {
      *value = literal.value;
      return true;
    }
  }
  return false;
}

std::string ModeLiteralList::Names() const {
  std::string names;
  for (const ModeLiteral& literal : *this) names += (names.empty() ? "" : ", ") + std::string(literal.name);
  return names;
}

template <>
ModeLiteralList ModeLiteralsOf<QZVP_ColourConversionModeStruct>() { return ListOf(kColourConversion); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_GrayscaleTransformationModeStruct>() { return ListOf(kGrayscaleTransformation); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_RegionPredetectionModeStruct>() { return ListOf(kRegionPredetection); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_GrayscaleEnhancementModeStruct>() { return ListOf(kGrayscaleEnhancement); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_BinarizationModeStruct>() { return ListOf(kBinarization); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_TextureDetectionModeStruct>() { return ListOf(kTextureDetection); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_TextFilterModeStruct>() { return ListOf(kTextFilter); }
template <>
ModeLiteralList ModeLiteralsOf<QZVP_LineExtractionModeStruct>() { return ListOf(kLineExtraction); }

ModeLiteralList ChannelLiterals() { return ListOf(kChannels); }

}  // namespace orvex
