// Rewrites of the host's mode lists before trees are built from them.
#ifndef ORVEX_MODES_MODELISTRULES_H
#define ORVEX_MODES_MODELISTRULES_H

#include <orvex/foundation/Export.h>
#include <orvex/modes/ModeRecords.h>

#include <vector>

namespace orvex {

// Normalises a grayscale-transformation list to at most two fresh records: GTM_INVERTED
// when any record is GTM_INVERTED or GTM_AUTO, GTM_ORIGINAL when any record is neither
// GTM_SKIP nor GTM_INVERTED; inverted first only when the first non-skip record is
// GTM_INVERTED. What `output` held before is discarded.
ORVEX_EXPORT void FilterGrayscaleTransformationMode(const std::vector<QZVP_GrayscaleTransformationModeStruct>& input,
                                                    std::vector<QZVP_GrayscaleTransformationModeStruct>& output);

// One group per input record, in order: a BM_LOCAL_BLOCK record whose intArg5 is -10000
// becomes two copies with intArg5 10 and 2; any other record one unchanged copy. What
// `output` held before is discarded.
ORVEX_EXPORT void ExtandBinarizationMode(const std::vector<QZVP_BinarizationModeStruct>& input,
                                         std::vector<std::vector<QZVP_BinarizationModeStruct>>& output);

}  // namespace orvex

#endif
