// The literals of the mode values and channels, named once: the canonical texts write them
// in brackets ("[GEM_SKIP]"), parameter files without ("GEM_SKIP").
#ifndef ORVEX_MODES_MODELITERALS_H
#define ORVEX_MODES_MODELITERALS_H

#include <orvex/foundation/Export.h>
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
  ORVEX_EXPORT const char* NameOf(int32_t value) const;
  // Whether `name` is a literal of the kind; its value into *value.
  ORVEX_EXPORT bool ValueOf(const std::string& name, int32_t* value) const;
  // Every literal, separated by ", ": for messages.
  ORVEX_EXPORT std::string Names() const;

  const ModeLiteral* first;
  std::size_t count;
};

// The mode literals of a record type (ModeLiteralsOf<QZVP_BinarizationModeStruct>()).
template <class Record>
ModeLiteralList ModeLiteralsOf();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_ColourConversionModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_GrayscaleTransformationModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_RegionPredetectionModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_GrayscaleEnhancementModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_BinarizationModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_TextureDetectionModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_TextFilterModeStruct>();
template <>
ORVEX_EXPORT ModeLiteralList ModeLiteralsOf<QZVP_LineExtractionModeStruct>();

// The literals of the colour-conversion record's channel.
ORVEX_EXPORT ModeLiteralList ChannelLiterals();

}  // namespace orvex

#endif
