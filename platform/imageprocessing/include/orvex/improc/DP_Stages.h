// The processing stages of the pipeline, one class per stage kind.
//
// Each stage takes its input stage (and, where noted, linked stages set before it runs),
// computes one deterministic result with OpenCV from its inputs' results, read only, into
// images of its own, and reports the 3 x 3 transform from source-image coordinates to its
// result's coordinates. A stage whose input settled without a result settles without one
// too; one whose input is missing or not settled stays unsettled (DP_Template.h). Mode
// records are copied at construction.
#ifndef ORVEX_IMPROC_DP_STAGES_H
#define ORVEX_IMPROC_DP_STAGES_H

#include <orvex/foundation/ModeRecordTypes.h>
#include <orvex/improc/DP_Template.h>

#include <vector>

namespace orvex {

// One value per stage class, for the per-class counters.
enum DP_StageKind : int {
  DPK_SOURCE_IMAGE,
  DPK_SIZE_FITTING_IMAGE,
  DPK_SCALING_DOWN_IMAGE,
  DPK_COLOUR_CONVERT_WHOLE_IMAGE,
  DPK_GRAY_TRANSFORM_WHOLE_IMAGE,
  DPK_DETECT_ROIS,
  DPK_ROI_IMAGE,
  DPK_COLOUR_CONVERT_ROI_IMAGE,
  DPK_GRAY_TRANSFORM_ROI_IMAGE,
  DPK_ROTATE_ROI_IMAGE,
  DPK_PERSPECTIVE_ROI_IMAGE,
  DPK_ENHANCE_ROI_IMAGE,
  DPK_BINARIZE_ROI_IMAGE,
  DPK_TEXTURE_DETECT_IMAGE,
  DPK_ENHANCE_TEXTURE_IMAGE,
  DPK_BINARIZE_TEXTURE_IMAGE,
  DPK_TEXT_FILTERING_IMAGE,
  DPK_PROCESS_CONTOUR,
  DPK_PROCESS_LINE_SET,
  DPK_COUNT
};

// A source image's pixels, fetched when a result first needs them (decoded from a file
// the host read, say): a host whose results are all stored never decodes the image.
// Load may be called from any thread; a source stage calls it until it has pixels (once
// when they can be had).
class ORVEX_EXPORT SourcePixels : public QZObjectBase {
 public:
  // The pixels, or null when they cannot be had.
  virtual QZRef<QZMatrix> Load() = 0;
};

// The caller's image. The two integers are the largest width and height the size-fitting
// stage lets through (0 or less: 4096).
class ORVEX_EXPORT DP_SourceImage : public DP_Template<QZMatrix, DP_NoneData> {
 public:
  static constexpr DP_StageKind kKind = DPK_SOURCE_IMAGE;
  DP_SourceImage(QZRef<QZMatrix> image, int maxWidth, int maxHeight);
  // An image known by its hash id, whose pixels come from `pixels` when first needed.
  // Pixels that cannot be had, or whose hash id is not `hashId`, are no result: the stage
  // stays unsettled (logged), so that the next request, or pixels offered meanwhile, can
  // still give the image. The host's record of which file gave which image never mixes
  // two images up.
  DP_SourceImage(QZRef<SourcePixels> pixels, std::string hashId, int maxWidth, int maxHeight);
  int GetMaxWidth() const { return m_maxWidth; }
  int GetMaxHeight() const { return m_maxHeight; }
  // Whether the stage still needs pixels: known by its id and not settled.
  bool NeedsPixels();
  // Pixels of this image from another add (their hash id is this stage's), taken unless
  // the stage has settled; a later add's loader likewise. Thread-safe.
  void OfferPixels(QZRef<QZMatrix> image);
  void OfferPixels(QZRef<SourcePixels> pixels);

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
  QZRef<QZMatrix> m_image ORVEX_GUARDED_BY(primaryDataMutex);
  QZRef<SourcePixels> m_pixels ORVEX_GUARDED_BY(primaryDataMutex);
  const std::string m_hashId;
  const int m_maxWidth;
  const int m_maxHeight;
};

// Brings the image within the source's largest size (scaled down, aspect kept) and to
// three 8-bit colour channels (gray is expanded, alpha dropped).
class ORVEX_EXPORT DP_SizeFittingImage : public DP_InputStage<QZMatrix, DP_SourceImage, DPK_SIZE_FITTING_IMAGE> {
 public:
  using DP_InputStage::DP_InputStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
  // An image that fits as it is keeps the source's pixels.
  bool ResultIsInputsOwn() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Halves the image (area averaging) while its longer side exceeds the scaling-down
// value; a value of 0 or less keeps the size.
class ORVEX_EXPORT DP_ScalingDownImage : public DP_Template<QZMatrix, DP_SizeFittingImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_SCALING_DOWN_IMAGE;
  DP_ScalingDownImage(DP_SizeFittingImage* input, int scalingDownValue);

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
  int m_scalingDownValue;
};

// Colour to gray: CICM_GENERAL weights blue, green and red by intArg1..3 (all 0: the
// standard luma); CICM_HSV takes the plane that `channel` names (H, S or V; V otherwise);
// any other mode the standard luma.
class ORVEX_EXPORT DP_ColourConvertWholeImage
    : public DP_RecordStage<QZMatrix, DP_ScalingDownImage, QZVP_ColourConversionModeStruct, DPK_COLOUR_CONVERT_WHOLE_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// GTM_INVERTED inverts the gray image; GTM_AUTO inverts it when the linked colour image
// (linkedStage1) is darker than mid-gray on average; every other mode keeps it.
class ORVEX_EXPORT DP_GrayTransformWholeImage
    : public DP_RecordStage<QZMatrix, DP_ColourConvertWholeImage, QZVP_GrayscaleTransformationModeStruct, DPK_GRAY_TRANSFORM_WHOLE_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_ScalingDownImage> linkedStage1;

 private:
  LinkedStages Linked() const override { return {linkedStage1.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Candidate regions of the gray image. RPM_MANUAL_SPECIFICATION: the relativeRegions in
// percent of the image. The contrast modes (and RPM_AUTO as gray contrast): the gradient
// of the gray image (RGB: of the linked colour image, strongest channel; HSV: of its
// saturation), thresholded, closed along the text direction, and every large enough
// component's minimum-area rectangle, largest first (none when nothing stands out). Any
// other mode: the whole image.
// Keeps the linked colour image (linkedStage1) for the region colour images.
class ORVEX_EXPORT DP_DetectROIs
    : public DP_RecordStage<QZQuadList, DP_GrayTransformWholeImage, QZVP_RegionPredetectionModeStruct, DPK_DETECT_ROIS> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_ScalingDownImage> linkedStage1;
  // The colour image the regions are cut from (as far as it is computed), or null.
  QZRef<const QZMatrix> GetColourImage();

 private:
  LinkedStages Linked() const override { return {linkedStage1.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// The region's bounding box cut from the colour image of the region detection (which a
// region detection restored from a store computes only now), with the quadrilateral in
// the cut's coordinates.
class ORVEX_EXPORT DP_ROIImage : public DP_Template<ImageWithQuad, DP_DetectROIs> {
 public:
  static constexpr DP_StageKind kKind = DPK_ROI_IMAGE;
  DP_ROIImage(DP_DetectROIs* input, const QZ_Quad& quad);
  // The region, in the coordinates of the image it was found in.
  const QZ_Quad& GetQuad() const { return m_quad; }

 private:
  LinkedStages Linked() const override { return {input ? input->linkedStage1.get() : nullptr}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
  QZ_Quad m_quad;
};

// The region's colour image to gray as the whole-image conversion does it. Without a
// region image (its input found no colour image) the region is cut from the whole
// colour image (linkedStage1) and converted, or else cut from the whole transformed
// gray image (linkedStage2).
class ORVEX_EXPORT DP_ColourConvertROIImage
    : public DP_RecordStage<ImageWithQuad, DP_ROIImage, QZVP_ColourConversionModeStruct, DPK_COLOUR_CONVERT_ROI_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_ScalingDownImage> linkedStage1;
  QZRef<DP_GrayTransformWholeImage> linkedStage2;

 private:
  LinkedStages Linked() const override { return {linkedStage1.get(), linkedStage2.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// GTM_INVERTED inverts the region's gray image; every other mode keeps it.
class ORVEX_EXPORT DP_GrayTransformROIImage
    : public DP_RecordStage<ImageWithQuad, DP_ColourConvertROIImage, QZVP_GrayscaleTransformationModeStruct, DPK_GRAY_TRANSFORM_ROI_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Rotates the region image so that the quadrilateral's longest edge lies horizontal,
// on a canvas large enough for the whole turned image.
class ORVEX_EXPORT DP_RotateROIImage : public DP_InputStage<ImageWithQuad, DP_GrayTransformROIImage, DPK_ROTATE_ROI_IMAGE> {
 public:
  using DP_InputStage::DP_InputStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Maps the quadrilateral onto an upright rectangle of its mean edge lengths.
class ORVEX_EXPORT DP_PerspectiveROIImage : public DP_InputStage<ImageWithQuad, DP_RotateROIImage, DPK_PERSPECTIVE_ROI_IMAGE> {
 public:
  using DP_InputStage::DP_InputStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// GEM_GRAY_EQUALIZE equalises the histogram, GEM_GRAY_SMOOTH blurs (Gaussian, kernel
// intArg2 or 5), GEM_SHARPEN_SMOOTH sharpens (unsharp mask); every other mode keeps the image.
class ORVEX_EXPORT DP_EnhanceROIImage
    : public DP_RecordStage<QZMatrix, DP_PerspectiveROIImage, QZVP_GrayscaleEnhancementModeStruct, DPK_ENHANCE_ROI_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// BM_LOCAL_BLOCK: local adaptive threshold over blocks of intArg1 x intArg2 pixels (odd,
// at least 3) with offset intArg5; every other mode: a global Otsu threshold. Dark
// content becomes 255.
class ORVEX_EXPORT DP_BinarizeROIImage
    : public DP_RecordStage<QZMatrix, DP_EnhanceROIImage, QZVP_BinarizationModeStruct, DPK_BINARIZE_ROI_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Texture: where the binary image changes often. The density of edges in a window
// (intArg1 of the first usable record, else 15 pixels) above one half marks texture.
class ORVEX_EXPORT DP_TextureDetectImage
    : public DP_RecordStage<TextureDetectionResult, DP_BinarizeROIImage, std::vector<QZVP_TextureDetectionModeStruct>, DPK_TEXTURE_DETECT_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// The gray image for structure analysis: the enhanced region image (linkedStage1) where
// the texture mask is set, the plain perspective-corrected image (linkedStage2) elsewhere.
class ORVEX_EXPORT DP_EnhanceTextureImage
    : public DP_RecordStage<QZMatrix, DP_TextureDetectImage, QZVP_GrayscaleEnhancementModeStruct, DPK_ENHANCE_TEXTURE_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_EnhanceROIImage> linkedStage1;
  QZRef<DP_PerspectiveROIImage> linkedStage2;

 private:
  LinkedStages Linked() const override { return {linkedStage1.get(), linkedStage2.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Binarizes the structurizing image as DP_BinarizeROIImage does inside the texture mask
// (linkedStage1) and keeps the region's binary image (linkedStage2) outside it.
class ORVEX_EXPORT DP_BinarizeTextureImage
    : public DP_RecordStage<QZMatrix, DP_EnhanceTextureImage, QZVP_BinarizationModeStruct, DPK_BINARIZE_TEXTURE_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_TextureDetectImage> linkedStage1;
  QZRef<DP_BinarizeROIImage> linkedStage2;

 private:
  LinkedStages Linked() const override { return {linkedStage1.get(), linkedStage2.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Removes connected components smaller than intArg1 pixels of the first usable record
// (else 12) from the binary image.
class ORVEX_EXPORT DP_TextFilteringImage
    : public DP_RecordStage<FilteredBinaryImage, DP_BinarizeTextureImage, std::vector<QZVP_TextFilterModeStruct>, DPK_TEXT_FILTERING_IMAGE> {
 public:
  using DP_RecordStage::DP_RecordStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// The outer contours of the filtered binary image.
class ORVEX_EXPORT DP_ProcessContour : public DP_InputStage<ContourSet, DP_TextFilteringImage, DPK_PROCESS_CONTOUR> {
 public:
  using DP_InputStage::DP_InputStage;

 private:
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

// Straight pieces of the contours (polygon approximation, pieces of at least 8 pixels).
// LEM_MARGIN_BASED keeps only pieces within an eighth of the region's size from its
// border; the region size and the transform back to the source come from the
// perspective-corrected region image (linkedStage1). Where that transform cannot be
// inverted, the segments have no transform back (see LineSegmentSet).
class ORVEX_EXPORT DP_ProcessLineSet
    : public DP_RecordStage<LineSegmentSet, DP_ProcessContour, QZVP_LineExtractionModeStruct, DPK_PROCESS_LINE_SET> {
 public:
  using DP_RecordStage::DP_RecordStage;
  QZRef<DP_PerspectiveROIImage> linkedStage1;

 private:
  LinkedStages Linked() const override { return {linkedStage1.get()}; }
  void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) override;
};

}  // namespace orvex

#endif
