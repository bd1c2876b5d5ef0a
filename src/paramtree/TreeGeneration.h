// Building parameter trees from mode lists.
//
// Neither function takes a lock: the whole-image generation works on a tree no other
// thread can see yet; whoever extends a tree with a region part keeps other threads
// away from it meanwhile (the loader's callback runs under the loader's mutex).
#ifndef ORVEX_PARAMTREE_TREEGENERATION_H
#define ORVEX_PARAMTREE_TREEGENERATION_H

#include <orvex/foundation/Export.h>
#include <orvex/modes/ModeRecords.h>
#include <orvex/paramtree/QZParameterTree.h>

#include <vector>

namespace orvex {

// A new tree: source, size fitting, scaling down and the colour image for regions, then
// one branch per usable colour conversion, below it one per grayscale transformation
// (the list as given: filter it first), each ending in one candidate-regions node per
// usable region-predetection record. Nodes equal to an earlier sibling are refused. Never
// null. The tree shares its results through the table of the pool in use.
ORVEX_EXPORT QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    int scalingDownParameter, const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes);
// The same for a tree that shares its results through `table`.
ORVEX_EXPORT QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    DataUnitManager* table, int scalingDownParameter,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes);

// Grows the region part below one candidate-regions node of `tree`, with the binarization
// relations and groups of that region node. Does nothing for a null tree, a node that is
// not a candidate-regions node of that tree, or a node without id.
ORVEX_EXPORT void GenerateRegionImageParamTreeByModes(
    QZParameterTree* tree, ParameterNodeBase* regionNode,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_GrayscaleEnhancementModeStruct>& grayscaleEnhancementModes,
    const std::vector<std::vector<QZVP_BinarizationModeStruct>>& binarizationGroups,
    const std::vector<QZVP_TextureDetectionModeStruct>& textureDetectionModes,
    const std::vector<QZVP_TextFilterModeStruct>& textFilterModes,
    const std::vector<QZVP_LineExtractionModeStruct>& lineExtractionModes);

}  // namespace orvex

#endif
