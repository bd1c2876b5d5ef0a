// The processing stages of the pipeline, one class per stage kind.
//
// Each stage takes its input stage (and, where noted, linked stages set before it runs),
// computes one deterministic result with OpenCV, and reports the 3 x 3 transform from
// source-image coordinates to its result's coordinates. A stage whose input is missing
// or produced nothing computes nothing. Mode records are copied at construction.
#ifndef ORVEX_IMPROC_DP_STAGES_H
#define ORVEX_IMPROC_DP_STAGES_H

#include <orvex/improc/DP_Template.h>
#include <orvex/foundation/ModeRecordTypes.h>

#include <vector>

namespace orvex {

// The caller's image. The two integers are the largest width and height the size-fitting
// stage lets through (0 or less: 4096).
class ORVEX_EXPORT DP_SourceImage : public DP_Template<QZMatrix, DP_NoneData> {
 public:
  static constexpr DP_StageKind kKind = DPK_SOURCE_IMAGE;
  DP_SourceImage(QZRef<QZMatrix> image, int maxWidth, int maxHeight);
  int GetMaxWidth() const { return m_maxWidth; }
  int GetMaxHeight() const { return m_maxHeight; }

 private:
  void ComputePrimaryData() override;
  QZRef<QZMatrix> m_image;
  int m_maxWidth;
  int m_maxHeight;
};

// Brings the image within the source's largest size (scaled down, aspect kept) and to
// three 8-bit colour channels (gray is expanded, alpha dropped).
class ORVEX_EXPORT DP_SizeFittingImage : public DP_Template<QZMatrix, DP_SourceImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_SIZE_FITTING_IMAGE;
  explicit DP_SizeFittingImage(DP_SourceImage* input);

 private:
  void ComputePrimaryData() override;
};

// Halves the image (area averaging) while its longer side exceeds the scaling-down
// value; a value of 0 or less keeps the size.
class ORVEX_EXPORT DP_ScalingDownImage : public DP_Template<QZMatrix, DP_SizeFittingImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_SCALING_DOWN_IMAGE;
  DP_ScalingDownImage(DP_SizeFittingImage* input, int scalingDownValue);

 private:
  void ComputePrimaryData() override;
  int m_scalingDownValue;
};

// Colour to gray: CICM_GENERAL weights blue, green and red by intArg1..3 (all 0: the
// standard luma); CICM_HSV takes the plane that `channel` names (H, S or V; V otherwise);
// any other mode the standard luma.
class ORVEX_EXPORT DP_ColourConvertWholeImage : public DP_Template<QZMatrix, DP_ScalingDownImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_COLOUR_CONVERT_WHOLE_IMAGE;
  DP_ColourConvertWholeImage(DP_ScalingDownImage* input, const QZVP_ColourConversionModeStruct* mode);

 private:
  void ComputePrimaryData() override;
  QZVP_ColourConversionModeStruct m_mode;
};

// GTM_INVERTED inverts the gray image; GTM_AUTO inverts it when the linked colour image
// (linkedStage1) is darker than mid-gray on average; every other mode keeps it.
class ORVEX_EXPORT DP_GrayTransformWholeImage : public DP_Template<QZMatrix, DP_ColourConvertWholeImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_GRAY_TRANSFORM_WHOLE_IMAGE;
  DP_GrayTransformWholeImage(DP_ColourConvertWholeImage* input, const QZVP_GrayscaleTransformationModeStruct* mode);
  QZRef<DP_ScalingDownImage> linkedStage1;

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_GrayscaleTransformationModeStruct m_mode;
};

// Candidate regions of the gray image. RPM_MANUAL_SPECIFICATION: the relativeRegions in
// percent of the image. The contrast modes (and RPM_AUTO as gray contrast): the gradient
// of the gray image (RGB: of the linked colour image, strongest channel; HSV: of its
// saturation), thresholded, closed along the text direction, and every large enough
// component's minimum-area rectangle, largest first (none when nothing stands out). Any
// other mode: the whole image.
// Keeps the linked colour image (linkedStage1) for the region colour images.
class ORVEX_EXPORT DP_DetectROIs : public DP_Template<QZQuadList, DP_GrayTransformWholeImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_DETECT_ROIS;
  DP_DetectROIs(DP_GrayTransformWholeImage* input, const QZVP_RegionPredetectionModeStruct* mode);
  QZRef<DP_ScalingDownImage> linkedStage1;
  // The colour image the regions are cut from, or null.
  QZRef<QZMatrix> GetColourImage();

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_RegionPredetectionModeStruct m_mode;
};

// The region's bounding box cut from the colour image, with the quadrilateral in the
// cut's coordinates.
class ORVEX_EXPORT DP_ROIImage : public DP_Template<ImageWithQuad, DP_DetectROIs> {
 public:
  static constexpr DP_StageKind kKind = DPK_ROI_IMAGE;
  DP_ROIImage(DP_DetectROIs* input, const QZ_Quad& quad);
  // The region, in the coordinates of the image it was found in.
  const QZ_Quad& GetQuad() const { return m_quad; }

 private:
  void ComputePrimaryData() override;
  QZ_Quad m_quad;
};

// The region's colour image to gray as the whole-image conversion does it. Without a
// region image (its input found no colour image) the region is cut from the whole
// colour image (linkedStage1) and converted, or else cut from the whole transformed
// gray image (linkedStage2).
class ORVEX_EXPORT DP_ColourConvertROIImage : public DP_Template<ImageWithQuad, DP_ROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_COLOUR_CONVERT_ROI_IMAGE;
  DP_ColourConvertROIImage(DP_ROIImage* input, const QZVP_ColourConversionModeStruct* mode);
  QZRef<DP_ScalingDownImage> linkedStage1;
  QZRef<DP_GrayTransformWholeImage> linkedStage2;

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_ColourConversionModeStruct m_mode;
};

// GTM_INVERTED inverts the region's gray image; every other mode keeps it.
class ORVEX_EXPORT DP_GrayTransformROIImage : public DP_Template<ImageWithQuad, DP_ColourConvertROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_GRAY_TRANSFORM_ROI_IMAGE;
  DP_GrayTransformROIImage(DP_ColourConvertROIImage* input, const QZVP_GrayscaleTransformationModeStruct* mode);

 private:
  void ComputePrimaryData() override;
  QZVP_GrayscaleTransformationModeStruct m_mode;
};

// Rotates the region image so that the quadrilateral's longest edge lies horizontal,
// on a canvas large enough for the whole turned image.
class ORVEX_EXPORT DP_RotateROIImage : public DP_Template<ImageWithQuad, DP_GrayTransformROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_ROTATE_ROI_IMAGE;
  explicit DP_RotateROIImage(DP_GrayTransformROIImage* input);

 private:
  void ComputePrimaryData() override;
};

// Maps the quadrilateral onto an upright rectangle of its mean edge lengths.
class ORVEX_EXPORT DP_PerspectiveROIImage : public DP_Template<ImageWithQuad, DP_RotateROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_PERSPECTIVE_ROI_IMAGE;
  explicit DP_PerspectiveROIImage(DP_RotateROIImage* input);

 private:
  void ComputePrimaryData() override;
};

// GEM_GRAY_EQUALIZE equalises the histogram, GEM_GRAY_SMOOTH blurs (Gaussian, kernel
// intArg2 or 5), GEM_SHARPEN_SMOOTH sharpens (unsharp mask); every other mode keeps the image.
class ORVEX_EXPORT DP_EnhanceROIImage : public DP_Template<QZMatrix, DP_PerspectiveROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_ENHANCE_ROI_IMAGE;
  DP_EnhanceROIImage(DP_PerspectiveROIImage* input, const QZVP_GrayscaleEnhancementModeStruct* mode);

 private:
  void ComputePrimaryData() override;
  QZVP_GrayscaleEnhancementModeStruct m_mode;
};

// BM_LOCAL_BLOCK: local adaptive threshold over blocks of intArg1 x intArg2 pixels (odd,
// at least 3) with offset intArg5; every other mode: a global Otsu threshold. Dark
// content becomes 255.
class ORVEX_EXPORT DP_BinarizeROIImage : public DP_Template<QZMatrix, DP_EnhanceROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_BINARIZE_ROI_IMAGE;
  DP_BinarizeROIImage(DP_EnhanceROIImage* input, const QZVP_BinarizationModeStruct* mode);

 private:
  void ComputePrimaryData() override;
  QZVP_BinarizationModeStruct m_mode;
};

// Texture: where the binary image changes often. The density of edges in a window
// (intArg1 of the first usable record, else 15 pixels) above one half marks texture.
class ORVEX_EXPORT DP_TextureDetectImage : public DP_Template<TextureDetectionResult, DP_BinarizeROIImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_TEXTURE_DETECT_IMAGE;
  DP_TextureDetectImage(DP_BinarizeROIImage* input, const std::vector<QZVP_TextureDetectionModeStruct>* modes);

 private:
  void ComputePrimaryData() override;
  std::vector<QZVP_TextureDetectionModeStruct> m_modes;
};

// The gray image for structure analysis: the enhanced region image (linkedStage1) where
// the texture mask is set, the plain perspective-corrected image (linkedStage2) elsewhere.
class ORVEX_EXPORT DP_EnhanceTextureImage : public DP_Template<QZMatrix, DP_TextureDetectImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_ENHANCE_TEXTURE_IMAGE;
  DP_EnhanceTextureImage(DP_TextureDetectImage* input, const QZVP_GrayscaleEnhancementModeStruct* mode);
  QZRef<DP_EnhanceROIImage> linkedStage1;
  QZRef<DP_PerspectiveROIImage> linkedStage2;

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_GrayscaleEnhancementModeStruct m_mode;
};

// Binarizes the structurizing image as DP_BinarizeROIImage does inside the texture mask
// (linkedStage1) and keeps the region's binary image (linkedStage2) outside it.
class ORVEX_EXPORT DP_BinarizeTextureImage : public DP_Template<QZMatrix, DP_EnhanceTextureImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_BINARIZE_TEXTURE_IMAGE;
  DP_BinarizeTextureImage(DP_EnhanceTextureImage* input, const QZVP_BinarizationModeStruct* mode);
  QZRef<DP_TextureDetectImage> linkedStage1;
  QZRef<DP_BinarizeROIImage> linkedStage2;

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_BinarizationModeStruct m_mode;
};

// Removes connected components smaller than intArg1 pixels of the first usable record
// (else 12) from the binary image.
class ORVEX_EXPORT DP_TextFilteringImage : public DP_Template<FilteredBinaryImage, DP_BinarizeTextureImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_TEXT_FILTERING_IMAGE;
  DP_TextFilteringImage(DP_BinarizeTextureImage* input, const std::vector<QZVP_TextFilterModeStruct>* modes);

 private:
  void ComputePrimaryData() override;
  std::vector<QZVP_TextFilterModeStruct> m_modes;
};

// The outer contours of the filtered binary image.
class ORVEX_EXPORT DP_ProcessContour : public DP_Template<ContourSet, DP_TextFilteringImage> {
 public:
  static constexpr DP_StageKind kKind = DPK_PROCESS_CONTOUR;
  explicit DP_ProcessContour(DP_TextFilteringImage* input);

 private:
  void ComputePrimaryData() override;
};

// Straight pieces of the contours (polygon approximation, pieces of at least 8 pixels).
// LEM_MARGIN_BASED keeps only pieces within an eighth of the region's size from its
// border; the region size and the transform back to the source come from the
// perspective-corrected region image (linkedStage1).
class ORVEX_EXPORT DP_ProcessLineSet : public DP_Template<LineSegmentSet, DP_ProcessContour> {
 public:
  static constexpr DP_StageKind kKind = DPK_PROCESS_LINE_SET;
  DP_ProcessLineSet(DP_ProcessContour* input, const QZVP_LineExtractionModeStruct* mode);
  QZRef<DP_PerspectiveROIImage> linkedStage1;

 private:
  void PrepareInputData() override;
  void ComputePrimaryData() override;
  QZVP_LineExtractionModeStruct m_mode;
};

}  // namespace orvex

#endif
