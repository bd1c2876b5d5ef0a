// The fixed key texts from which parameter nodes without a mode record derive their
// hashes. Changing one changes every node id built from it.
#ifndef ORVEX_SRC_FOUNDATION_HASHKEYS_H
#define ORVEX_SRC_FOUNDATION_HASHKEYS_H

namespace orvex {
namespace hashkeys {

constexpr char kSourceImageSingleMode[] = "SourceImage_SingleModeHash";
constexpr char kSourceImageLayer[] = "SourceImage_LayerHash";
constexpr char kSourceImageGlobal[] = "SourceImage_GlobalHash";
constexpr char kColourImageAfterSizeFittingSingleMode[] = "ColourImageAfterSizeFitting_SingleModeHash";
// Followed by the node's scaling-down value in decimal before hashing.
constexpr char kColourImageAfterScalingDownSingleMode[] = "ColourImageAfterScalingDown_SingleModeHash";
constexpr char kColourImageForROISingleMode[] = "ColourImageForROI_SingleModeHash";
constexpr char kGrayscaleImageForROISingleMode[] = "GrayscaleImageForROI_SingleModeHash";
constexpr char kROIColourImageSingleMode[] = "ROIColourImage_SingleModeHash";
constexpr char kROIColourImageLayer[] = "ROIColourImage_LayerHash";
constexpr char kROIGrayscaleImageSingleMode[] = "ROIGrayscaleImage_SingleModeHash";
constexpr char kROIGrayscaleImageRotatedSingleMode[] = "ROIGrayscaleImageRotated_SingleModeHash";
constexpr char kROIGrayscaleImagePerspectiveCorrectedSingleMode[] =
    "ROIGrayscaleImagePerspectiveCorrected_SingleModeHash";
constexpr char kROIGaryImageProcessedSingleMode[] = "ROIGaryImageProcessed_SingleModeHash";
constexpr char kContoursSingleMode[] = "Contours_SingleModeHash";
constexpr char kContoursLayer[] = "Contours_LayerHash";

}  // namespace hashkeys
}  // namespace orvex

#endif
