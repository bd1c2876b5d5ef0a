// The one description of every pipeline stage: a row per stage, in pipeline order.
//
// A row names the stage's classes and states its facts in the words of StageRow.h; the
// generic wrap (DW_Stage<N>) and node (PN_Stage<N>) derive their constructors, copies,
// identities, results and extra inputs from it, and the cache's copies, statistics and
// reports read it. The named classes (DW_ROIBinaryImage, PN_ROIBinaryImage, ...) are
// declared here and defined beside the templates, each deriving from its template and
// adding nothing, so that hosts can declare them ahead. Changing a stage means changing
// its row (and its processing stage, in libOrvexImageProcessing, for what it computes).
// Three stages add behaviour to their classes: the source image and the region colour
// image, which the host hands in, and the candidate regions, which keep the colour image
// the regions are cut from.
#ifndef ORVEX_STAGES_STAGETABLE_H
#define ORVEX_STAGES_STAGETABLE_H

#include <orvex/foundation/ModeRecordTypes.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/stages/StageRow.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace orvex {

class DW_SourceImage;
class DW_CandidateROIs;
class DW_ROIColourImage;
class PN_SourceImage;
class PN_ROIColourImage;

using stages::ExtraInput;
using stages::ExtraInputs;
using stages::Generation;
using stages::kLinkedStage1;
using stages::kLinkedStage2;
using stages::Row;

// --- The whole image --------------------------------------------------------------------------

template <>
struct StageRow<tav::DUST_SOURCE_IMAGE> : Row<DW_SourceImage, PN_SourceImage, DP_SourceImage, 0> {
  static constexpr const char* kName = "source image";
  static constexpr bool kListedByTree = true;
  static constexpr bool kAddedByHost = true;
  static constexpr const char* kModeKey = "SourceImage_SingleModeHash";
  static constexpr const char* kLayerKey = "SourceImage_LayerHash";
  static constexpr const char* kGlobalKey = "SourceImage_GlobalHash";
  static constexpr const char* kTimingLabel = "DW_SourceImage_CreateData";
};

class DW_ColourImageAfterSizeFitting;
class PN_ColourImageAfterSizeFitting;
template <>
struct StageRow<tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING>
    : Row<DW_ColourImageAfterSizeFitting, PN_ColourImageAfterSizeFitting, DP_SizeFittingImage, tav::DUST_SOURCE_IMAGE> {
  static constexpr const char* kName = "colour image after size fitting";
  static constexpr const char* kModeKey = "ColourImageAfterSizeFitting_SingleModeHash";
  static constexpr const char* kTimingLabel = "DW_ColourImageAfterSizeFitting_CreateData";
};

class DW_ColourImageAfterScalingDown;
class PN_ColourImageAfterScalingDown;
template <>
struct StageRow<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN>
    : Row<DW_ColourImageAfterScalingDown, PN_ColourImageAfterScalingDown, DP_ScalingDownImage,
          tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING> {
  static constexpr const char* kName = "colour image after scaling down";
  using Parameters = int;  // the longest side the scaled-down image may have
  static constexpr const char* kModeKey = "ColourImageAfterScalingDown_SingleModeHash";
  static constexpr const char* kTimingLabel = "DW_ColourImageAfterScalingDown_CreateData";
};

class DW_ColourImageForROI;
class PN_ColourImageForROI;
template <>
struct StageRow<tav::DUST_COLOUR_IMAGE_FOR_ROI>
    : Row<DW_ColourImageForROI, PN_ColourImageForROI, DP_ScalingDownImage, tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN> {
  static constexpr const char* kName = "colour image for regions";
  static constexpr bool kListedByTree = true;
  static constexpr bool kSharesParentStage = true;
  static constexpr const char* kModeKey = "ColourImageForROI_SingleModeHash";
  static constexpr const char* kTimingLabel = "DW_ColourImageForROI_CreateData";
};

class DW_GrayscaleImageColourConverted;
class PN_GrayscaleImageColourConverted;
template <>
struct StageRow<tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED>
    : Row<DW_GrayscaleImageColourConverted, PN_GrayscaleImageColourConverted, DP_ColourConvertWholeImage,
          tav::DUST_COLOUR_IMAGE_FOR_ROI> {
  static constexpr const char* kName = "grayscale image, colour converted";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  static constexpr int64_t kSkippedMode = CICM_SKIP;
  static constexpr bool kListedByTree = true;
  using Parameters = QZVP_ColourConversionModeStruct;
  static constexpr const char* kTimingLabel = "DW_GrayscaleImageColourConverted_CreateData";
};

class DW_GrayscaleImageTransformed;
class PN_GrayscaleImageTransformed;
template <>
struct StageRow<tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED>
    : Row<DW_GrayscaleImageTransformed, PN_GrayscaleImageTransformed, DP_GrayTransformWholeImage,
          tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED> {
  static constexpr const char* kName = "grayscale image, transformed";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  using Parameters = QZVP_GrayscaleTransformationModeStruct;
  // The colour image, whose brightness decides GTM_AUTO.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN, kLinkedStage1>>;
  static constexpr const char* kTimingLabel = "DW_GrayscaleImageTransformed_CreateData";
};

class DW_GrayscaleImageForROI;
class PN_GrayscaleImageForROI;
template <>
struct StageRow<tav::DUST_GRAYSCALE_IMAGE_FOR_ROI>
    : Row<DW_GrayscaleImageForROI, PN_GrayscaleImageForROI, DP_GrayTransformWholeImage,
          tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED> {
  static constexpr const char* kName = "grayscale image for regions";
  static constexpr bool kListedByTree = true;
  static constexpr bool kSharesParentStage = true;
  static constexpr const char* kModeKey = "GrayscaleImageForROI_SingleModeHash";
  static constexpr const char* kTimingLabel = "DW_GrayscaleImageForROI_CreateData";
};

class PN_CandidateROIs;
template <>
struct StageRow<tav::DUST_CANDIDATE_ROIS>
    : Row<DW_CandidateROIs, PN_CandidateROIs, DP_DetectROIs, tav::DUST_GRAYSCALE_IMAGE_FOR_ROI> {
  static constexpr const char* kName = "candidate regions";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  static constexpr int64_t kSkippedMode = RPM_SKIP;
  static constexpr bool kListedByTree = true;
  using Parameters = QZVP_RegionPredetectionModeStruct;
  // The colour image the regions are cut from; without it there are no region ids.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN, kLinkedStage1>>;
  static constexpr bool kImage = false;
  static constexpr bool kWaitsForInputs = true;
  static constexpr const char* kTimingLabel = "DW_CandidateROIs_CreateData";
};

// --- One region ---------------------------------------------------------------------------------

template <>
struct StageRow<tav::DUST_ROI_COLOUR_IMAGE>
    : Row<DW_ROIColourImage, PN_ROIColourImage, DP_ROIImage, tav::DUST_CANDIDATE_ROIS> {
  static constexpr const char* kName = "region colour image";
  static constexpr bool kListedByTree = true;
  static constexpr bool kAddedByHost = true;
  static constexpr const char* kModeKey = "ROIColourImage_SingleModeHash";
  static constexpr const char* kAnchorKey = "ROIColourImage_LayerHash";
};

class DW_ROIGrayscaleImageColourConverted;
class PN_ROIGrayscaleImageColourConverted;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED>
    : Row<DW_ROIGrayscaleImageColourConverted, PN_ROIGrayscaleImageColourConverted, DP_ColourConvertROIImage,
          tav::DUST_ROI_COLOUR_IMAGE> {
  static constexpr const char* kName = "region grayscale, colour converted";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  static constexpr int64_t kSkippedMode = CICM_SKIP;
  using Parameters = QZVP_ColourConversionModeStruct;
  // The whole images the region is cut from when its colour image has none.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, kLinkedStage2>,
                             ExtraInput<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN, kLinkedStage1>>;
};

class DW_ROIGrayscaleImageTransformed;
class PN_ROIGrayscaleImageTransformed;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED>
    : Row<DW_ROIGrayscaleImageTransformed, PN_ROIGrayscaleImageTransformed, DP_GrayTransformROIImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED> {
  static constexpr const char* kName = "region grayscale, transformed";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  using Parameters = QZVP_GrayscaleTransformationModeStruct;
};

class DW_ROIGrayscaleImage;
class PN_ROIGrayscaleImage;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE>
    : Row<DW_ROIGrayscaleImage, PN_ROIGrayscaleImage, DP_GrayTransformROIImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED> {
  static constexpr const char* kName = "region grayscale image";
  static constexpr bool kListedByTree = true;
  static constexpr bool kSharesParentStage = true;
  static constexpr const char* kModeKey = "ROIGrayscaleImage_SingleModeHash";
};

class DW_ROIGrayscaleImageRotated;
class PN_ROIGrayscaleImageRotated;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED>
    : Row<DW_ROIGrayscaleImageRotated, PN_ROIGrayscaleImageRotated, DP_RotateROIImage, tav::DUST_ROI_GRAYSCALE_IMAGE> {
  static constexpr const char* kName = "region grayscale, rotated";
  static constexpr const char* kModeKey = "ROIGrayscaleImageRotated_SingleModeHash";
};

class DW_ROIGrayscaleImagePerspectiveCorrected;
class PN_ROIGrayscaleImagePerspectiveCorrected;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED>
    : Row<DW_ROIGrayscaleImagePerspectiveCorrected, PN_ROIGrayscaleImagePerspectiveCorrected, DP_PerspectiveROIImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED> {
  static constexpr const char* kName = "region grayscale, perspective corrected";
  static constexpr const char* kModeKey = "ROIGrayscaleImagePerspectiveCorrected_SingleModeHash";
};

class DW_ROIGrayscaleImageEnhanced;
class PN_ROIGrayscaleImageEnhanced;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED>
    : Row<DW_ROIGrayscaleImageEnhanced, PN_ROIGrayscaleImageEnhanced, DP_EnhanceROIImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED> {
  static constexpr const char* kName = "region grayscale, enhanced";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  static constexpr int64_t kSkippedMode = GEM_SKIP;
  using Parameters = QZVP_GrayscaleEnhancementModeStruct;
};

class DW_ROIGaryImageProcessed;
class PN_ROIGaryImageProcessed;
template <>
struct StageRow<tav::DUST_ROI_GRAY_IMAGE_PROCESSED>
    : Row<DW_ROIGaryImageProcessed, PN_ROIGaryImageProcessed, DP_EnhanceROIImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED> {
  static constexpr const char* kName = "region gray image, processed";
  static constexpr bool kListedByTree = true;
  static constexpr bool kSharesParentStage = true;
  static constexpr const char* kModeKey = "ROIGaryImageProcessed_SingleModeHash";
};

class DW_ROIBinaryImage;
class PN_ROIBinaryImage;
template <>
struct StageRow<tav::DUST_ROI_BINARY_IMAGE>
    : Row<DW_ROIBinaryImage, PN_ROIBinaryImage, DP_BinarizeROIImage, tav::DUST_ROI_GRAY_IMAGE_PROCESSED> {
  static constexpr const char* kName = "region binary image";
  static constexpr Generation kGeneration = Generation::kOnePerRecordOfEachGroup;
  static constexpr int64_t kSkippedMode = BM_SKIP;
  static constexpr bool kListedByTree = true;
  using Parameters = QZVP_BinarizationModeStruct;
};

class DW_TextureDetectionResult;
class PN_ROITextureDetectionResult;
template <>
struct StageRow<tav::DUST_ROI_TEXTURE_DETECTION_RESULT>
    : Row<DW_TextureDetectionResult, PN_ROITextureDetectionResult, DP_TextureDetectImage, tav::DUST_ROI_BINARY_IMAGE> {
  static constexpr const char* kName = "region texture detection result";
  using Parameters = std::vector<QZVP_TextureDetectionModeStruct>;
  static constexpr bool kImage = false;
};

class DW_ROIGrayscaleImageForStructurizing;
class PN_ROIGrayscaleImageForStructurizing;
template <>
struct StageRow<tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING>
    : Row<DW_ROIGrayscaleImageForStructurizing, PN_ROIGrayscaleImageForStructurizing, DP_EnhanceTextureImage,
          tav::DUST_ROI_TEXTURE_DETECTION_RESULT> {
  static constexpr const char* kName = "region grayscale for structurizing";
  static constexpr Generation kGeneration = Generation::kBranchedRecord;  // the enhancement above
  static constexpr bool kListedByTree = true;
  using Parameters = QZVP_GrayscaleEnhancementModeStruct;
  // The enhanced image inside the texture, the perspective-corrected one outside it.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED, kLinkedStage1>,
                             ExtraInput<tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED, kLinkedStage2>>;
};

class DW_ROIBinaryImageForTextFiltering;
class PN_ROIBinaryImageForTextFiltering;
template <>
struct StageRow<tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING>
    : Row<DW_ROIBinaryImageForTextFiltering, PN_ROIBinaryImageForTextFiltering, DP_BinarizeTextureImage,
          tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING> {
  static constexpr const char* kName = "region binary for text filtering";
  static constexpr Generation kGeneration = Generation::kBranchedRecord;  // the binarization above
  using Parameters = QZVP_BinarizationModeStruct;
  // The texture mask, and the binary image kept outside it.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_ROI_TEXTURE_DETECTION_RESULT, kLinkedStage1>,
                             ExtraInput<tav::DUST_ROI_BINARY_IMAGE, kLinkedStage2>>;
};

class DW_ROIBinaryImageForStructurizing;
class PN_ROIBinaryImageForStructurizing;
template <>
struct StageRow<tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING>
    : Row<DW_ROIBinaryImageForStructurizing, PN_ROIBinaryImageForStructurizing, DP_TextFilteringImage,
          tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING> {
  static constexpr const char* kName = "region binary for structurizing";
  static constexpr bool kListedByTree = true;
  using Parameters = std::vector<QZVP_TextFilterModeStruct>;
};

class DW_Contours;
class PN_Contours;
template <>
struct StageRow<tav::DUST_CONTOURS>
    : Row<DW_Contours, PN_Contours, DP_ProcessContour, tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING> {
  static constexpr const char* kName = "contours";
  static constexpr bool kListedByTree = true;
  static constexpr bool kImage = false;
  static constexpr const char* kModeKey = "Contours_SingleModeHash";
  static constexpr const char* kAnchorKey = "Contours_LayerHash";
};

class DW_LineSegments;
class PN_LineSegments;
template <>
struct StageRow<tav::DUST_LINE_SEGMENTS>
    : Row<DW_LineSegments, PN_LineSegments, DP_ProcessLineSet, tav::DUST_CONTOURS> {
  static constexpr const char* kName = "line segments";
  static constexpr Generation kGeneration = Generation::kOnePerRecord;
  static constexpr int64_t kSkippedMode = LEM_SKIP;
  static constexpr bool kListedByTree = true;
  using Parameters = QZVP_LineExtractionModeStruct;
  // The perspective-corrected region image: its size and its way back to the source.
  using Inputs = ExtraInputs<ExtraInput<tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED, kLinkedStage1>>;
  static constexpr bool kImage = false;
  static constexpr bool kWaitsForInputs = true;
};

namespace stages {

// How many stages name `stage` as their parent, and the first of them (0: none): the tree
// generation follows these links down the table.
template <int... Offsets>
constexpr int ChildStageCount(int stage, std::integer_sequence<int, Offsets...>) {
  return ((StageRow<kFirstStage + Offsets>::kParent == stage ? 1 : 0) + ... + 0);
}
template <int... Offsets>
constexpr int ChildStageOf(int stage, std::integer_sequence<int, Offsets...>) {
  int child = 0;
  ((child = (child == 0 && StageRow<kFirstStage + Offsets>::kParent == stage) ? kFirstStage + Offsets : child), ...);
  return child;
}
constexpr auto kEveryStage = std::make_integer_sequence<int, kLastStage - kFirstStage + 1>{};
constexpr int ChildStageOf(int stage) { return ChildStageOf(stage, kEveryStage); }

// Whether a stage's parameters are one mode record (rather than none, a number or a list).
template <class T, class = void>
struct IsModeRecord : std::false_type {};
template <class T>
struct IsModeRecord<T, std::void_t<decltype(std::declval<const T&>().mode)>> : std::true_type {};

// Checks each row where the table is read: a mistake in row N fails a static_assert in
// the instantiation of RowCheck<N>, which names the stage, rather than surfacing as a
// template error deep in the wrap or node templates.
template <int N>
struct RowCheck {
  using Checked = StageRow<N>;
  static constexpr bool SharesProcessingClassOfParent() {
    if constexpr (Checked::kSharesParentStage) {
      return std::is_same<typename Checked::Processing, typename StageRow<Checked::kParent>::Processing>::value;
    } else {
      return true;
    }
  }
  static_assert(std::is_base_of<RowDefaults, Checked>::value, "a stage row derives from Row<Wrap, Node, Processing, Parent>");
  static_assert(Checked::kParent >= 0 && Checked::kParent < N, "a stage's parent is an earlier stage (0: none)");
  static_assert((Checked::kParent == 0) == (N == kFirstStage), "only the source image has no parent");
  static_assert(Checked::kName != nullptr && Checked::kName[0] != '\0', "a stage row names the stage (kName)");
  static_assert(Checked::kCodeVersion >= 1, "a stage's code version starts at 1");
  static_assert(!(Checked::kAddedByHost && Checked::kSharesParentStage),
                "a result the host hands in does not share its parent's processing stage");
  static_assert(SharesProcessingClassOfParent(), "a stage that shares its parent's processing stage names the parent's "
                                                "processing class");
  static_assert(!std::is_same<typename Checked::Parameters, NoParameters>::value || Checked::kModeKey != nullptr ||
                    Checked::kAddedByHost,
                "a stage without parameters hashes a key text (kModeKey)");
  static constexpr bool kBranches = Checked::kGeneration == Generation::kOnePerRecord ||
                                   Checked::kGeneration == Generation::kOnePerRecordOfEachGroup;
  static_assert(ChildStageCount(N, kEveryStage) == (N == kLastStage ? 0 : 1),
                "the stages form one chain: every stage but the last is the parent of exactly one");
  static_assert(Checked::kGeneration == Generation::kOne || IsModeRecord<typename Checked::Parameters>::value,
                "a stage whose nodes branch, or take the record an earlier stage branched on, has a mode record "
                "as its parameters");
  static_assert(kBranches || Checked::kSkippedMode == kNoSkippedMode, "only a stage whose nodes branch skips records");
  static_assert(!Checked::kAddedByHost || Checked::kGeneration == Generation::kOne,
                "a stage the host hands results to has one node below each parent");
  static constexpr bool kChecked = true;
};

template <int... Offsets>
constexpr bool EveryRowChecked(std::integer_sequence<int, Offsets...>) {
  return (RowCheck<kFirstStage + Offsets>::kChecked && ...);
}
static_assert(EveryRowChecked(kEveryStage), "every stage row");

}  // namespace stages
}  // namespace orvex

#endif
