// The mode lists of a parameter set, and the range checks of the mode records.
//
// The records' fields are described in <orvex/foundation/ModeRecordFields.h>; this header
// adds what a set's lists mean to the tree and the check that walks the descriptions.
// Thread-safe: CheckModeRecord only reads the record.
#ifndef ORVEX_MODES_MODEFIELDS_H
#define ORVEX_MODES_MODEFIELDS_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ModeRecordFields.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvex {

// What a mode list means to the tree: a list that branches it must hold a record other than
// its skip, or the tree stops before the line segments; the others may be empty.
struct ModeListRole {
  bool branches;
  int32_t skip;
};

// The mode lists of a parameter set in parameter-file order: visitor(name, list, role).
// The set's one scalar, scalingDownValue, is read by name.
template <class P, class V>
void VisitModeLists(P& p, V&& visit) {
  visit("colourConversionModes", p.colourConversionModes, ModeListRole{true, CICM_SKIP});
  visit("grayscaleTransformationModes", p.grayscaleTransformationModes, ModeListRole{true, GTM_SKIP});
  visit("regionPredetectionModes", p.regionPredetectionModes, ModeListRole{true, RPM_SKIP});
  visit("grayscaleEnhancementModes", p.grayscaleEnhancementModes, ModeListRole{true, GEM_SKIP});
  visit("binarizationModes", p.binarizationModes, ModeListRole{true, BM_SKIP});
  visit("textureDetectionModes", p.textureDetectionModes, ModeListRole{false, TDM_SKIP});
  visit("textFilterModes", p.textFilterModes, ModeListRole{false, TFM_SKIP});
  visit("lineExtractionModes", p.lineExtractionModes, ModeListRole{true, LEM_SKIP});
}

// One integer outside its range: the field's name ("intArg1", "relativeRegions[2].left"),
// its value and the range.
struct ModeFieldProblem {
  std::string field;
  int64_t value;
  int64_t lowest;
  int64_t highest;
};

// Every integer of `record` outside the range its mode gives it, in description order.
template <class Record>
ORVEX_EXPORT std::vector<ModeFieldProblem> CheckModeRecord(const Record& record);

}  // namespace orvex

#endif
