// The fifteen results of one region of one source image, from the region's colour image
// to its line segments. The region colour image is added by the caller through its node;
// every later wrap is made by its parameter node on top of its parent's wrap. Wraps keep
// their own copies of their mode records; extra inputs are held counted until the stage
// object is created, then cleared.
#ifndef ORVEX_DATAWRAP_REGIONWRAPS_H
#define ORVEX_DATAWRAP_REGIONWRAPS_H

#include <orvex/datawrap/WholeImageWraps.h>
#include <orvex/improc/QZ_Quad.h>

#include <vector>

namespace orvex {

// Stage 9. Its hash id is formed from the candidate regions' colour image and the
// quadrilateral, and ends in "-9"; without a colour image it has none.
class ORVEX_EXPORT DW_ROIColourImage : public DW_ImageTemplate<DP_ROIImage, DW_CandidateROIs> {
 public:
  DW_ROIColourImage(DW_CandidateROIs* parent, const QZ_Quad& quad);
  explicit DW_ROIColourImage(const DW_ROIColourImage* other);
  const QZ_Quad& GetQuad() const { return quad; }
  // The hash id a region colour image of `quad` below `regions` gets (it computes the
  // quadrilateral's id into `quad`); empty when `regions` holds no colour image.
  static std::string RegionHashId(DW_CandidateROIs* regions, QZ_Quad& quad);

 private:
  void CreateData(bool generate) override;
  QZ_Quad quad;
};

// Stage 10. Extra inputs: the whole scaled-down colour image and the whole transformed
// grayscale image of the same source.
class ORVEX_EXPORT DW_ROIGrayscaleImageColourConverted
    : public DW_ImageTemplate<DP_ColourConvertROIImage, DW_ROIColourImage> {
 public:
  DW_ROIGrayscaleImageColourConverted(DW_ROIColourImage* parent, const QZVP_ColourConversionModeStruct* mode);
  explicit DW_ROIGrayscaleImageColourConverted(const DW_ROIGrayscaleImageColourConverted* other);
  void SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour);
  void SetGrayscaleImageTransformedDataUnit(DW_GrayscaleImageTransformed* gray);

 private:
  void CreateData(bool generate) override;
  void PrepareRequiredData() override;
  QZVP_ColourConversionModeStruct modeRecord;
  QZRef<DW_ColourImageAfterScalingDown> colourImageData;
  QZRef<DW_GrayscaleImageTransformed> grayscaleImageData;
};

// Stage 11.
class ORVEX_EXPORT DW_ROIGrayscaleImageTransformed
    : public DW_ImageTemplate<DP_GrayTransformROIImage, DW_ROIGrayscaleImageColourConverted> {
 public:
  DW_ROIGrayscaleImageTransformed(DW_ROIGrayscaleImageColourConverted* parent,
                                  const QZVP_GrayscaleTransformationModeStruct* mode);
  explicit DW_ROIGrayscaleImageTransformed(const DW_ROIGrayscaleImageTransformed* other);

 private:
  void CreateData(bool generate) override;
  QZVP_GrayscaleTransformationModeStruct modeRecord;
};

// Stage 12: selects its parent's image (shares its stage object).
class ORVEX_EXPORT DW_ROIGrayscaleImage : public DW_ImageTemplate<DP_GrayTransformROIImage, DW_ROIGrayscaleImageTransformed> {
 public:
  explicit DW_ROIGrayscaleImage(DW_ROIGrayscaleImageTransformed* parent);
  explicit DW_ROIGrayscaleImage(const DW_ROIGrayscaleImage* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 13.
class ORVEX_EXPORT DW_ROIGrayscaleImageRotated : public DW_ImageTemplate<DP_RotateROIImage, DW_ROIGrayscaleImage> {
 public:
  explicit DW_ROIGrayscaleImageRotated(DW_ROIGrayscaleImage* parent);
  explicit DW_ROIGrayscaleImageRotated(const DW_ROIGrayscaleImageRotated* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 14.
class ORVEX_EXPORT DW_ROIGrayscaleImagePerspectiveCorrected
    : public DW_ImageTemplate<DP_PerspectiveROIImage, DW_ROIGrayscaleImageRotated> {
 public:
  explicit DW_ROIGrayscaleImagePerspectiveCorrected(DW_ROIGrayscaleImageRotated* parent);
  explicit DW_ROIGrayscaleImagePerspectiveCorrected(const DW_ROIGrayscaleImagePerspectiveCorrected* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 15.
class ORVEX_EXPORT DW_ROIGrayscaleImageEnhanced
    : public DW_ImageTemplate<DP_EnhanceROIImage, DW_ROIGrayscaleImagePerspectiveCorrected> {
 public:
  DW_ROIGrayscaleImageEnhanced(DW_ROIGrayscaleImagePerspectiveCorrected* parent,
                               const QZVP_GrayscaleEnhancementModeStruct* mode);
  explicit DW_ROIGrayscaleImageEnhanced(const DW_ROIGrayscaleImageEnhanced* other);

 private:
  void CreateData(bool generate) override;
  QZVP_GrayscaleEnhancementModeStruct modeRecord;
};

// Stage 16: selects its parent's image (shares its stage object).
class ORVEX_EXPORT DW_ROIGaryImageProcessed : public DW_ImageTemplate<DP_EnhanceROIImage, DW_ROIGrayscaleImageEnhanced> {
 public:
  explicit DW_ROIGaryImageProcessed(DW_ROIGrayscaleImageEnhanced* parent);
  explicit DW_ROIGaryImageProcessed(const DW_ROIGaryImageProcessed* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 17.
class ORVEX_EXPORT DW_ROIBinaryImage : public DW_ImageTemplate<DP_BinarizeROIImage, DW_ROIGaryImageProcessed> {
 public:
  DW_ROIBinaryImage(DW_ROIGaryImageProcessed* parent, const QZVP_BinarizationModeStruct* mode);
  explicit DW_ROIBinaryImage(const DW_ROIBinaryImage* other);

 private:
  void CreateData(bool generate) override;
  QZVP_BinarizationModeStruct modeRecord;
};

// Stage 18: not an image.
class ORVEX_EXPORT DW_TextureDetectionResult : public DW_BaseTemplate<DP_TextureDetectImage, DW_ROIBinaryImage> {
 public:
  DW_TextureDetectionResult(DW_ROIBinaryImage* parent, const std::vector<QZVP_TextureDetectionModeStruct>* modes);
  explicit DW_TextureDetectionResult(const DW_TextureDetectionResult* other);

 private:
  void CreateData(bool generate) override;
  std::vector<QZVP_TextureDetectionModeStruct> modeRecord;
};

// Stage 19. Extra inputs: the enhanced and the perspective-corrected image of the region.
class ORVEX_EXPORT DW_ROIGrayscaleImageForStructurizing
    : public DW_ImageTemplate<DP_EnhanceTextureImage, DW_TextureDetectionResult> {
 public:
  DW_ROIGrayscaleImageForStructurizing(DW_TextureDetectionResult* parent, const QZVP_GrayscaleEnhancementModeStruct* mode);
  explicit DW_ROIGrayscaleImageForStructurizing(const DW_ROIGrayscaleImageForStructurizing* other);
  void SetROIGrayscaleImageEnhancedDataUnit(DW_ROIGrayscaleImageEnhanced* enhanced);
  void SetROIGrayscaleImagePerspectiveCorrectedDataUnit(DW_ROIGrayscaleImagePerspectiveCorrected* perspective);

 private:
  void CreateData(bool generate) override;
  void PrepareRequiredData() override;
  QZVP_GrayscaleEnhancementModeStruct modeRecord;
  QZRef<DW_ROIGrayscaleImageEnhanced> enhancedImageData;
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> perspectiveImageData;
};

// Stage 20. Extra inputs: the texture detection result and the binary image of the region.
class ORVEX_EXPORT DW_ROIBinaryImageForTextFiltering
    : public DW_ImageTemplate<DP_BinarizeTextureImage, DW_ROIGrayscaleImageForStructurizing> {
 public:
  DW_ROIBinaryImageForTextFiltering(DW_ROIGrayscaleImageForStructurizing* parent, const QZVP_BinarizationModeStruct* mode);
  explicit DW_ROIBinaryImageForTextFiltering(const DW_ROIBinaryImageForTextFiltering* other);
  void SetTextureDetectionResultDataUnit(DW_TextureDetectionResult* texture);
  void SetROIBinaryImageDataUnit(DW_ROIBinaryImage* binary);

 private:
  void CreateData(bool generate) override;
  void PrepareRequiredData() override;
  QZVP_BinarizationModeStruct modeRecord;
  QZRef<DW_TextureDetectionResult> textureResultData;
  QZRef<DW_ROIBinaryImage> binaryImageData;
};

// Stage 21.
class ORVEX_EXPORT DW_ROIBinaryImageForStructurizing
    : public DW_ImageTemplate<DP_TextFilteringImage, DW_ROIBinaryImageForTextFiltering> {
 public:
  DW_ROIBinaryImageForStructurizing(DW_ROIBinaryImageForTextFiltering* parent,
                                    const std::vector<QZVP_TextFilterModeStruct>* modes);
  explicit DW_ROIBinaryImageForStructurizing(const DW_ROIBinaryImageForStructurizing* other);

 private:
  void CreateData(bool generate) override;
  std::vector<QZVP_TextFilterModeStruct> modeRecord;
};

// Stage 22: not an image.
class ORVEX_EXPORT DW_Contours : public DW_BaseTemplate<DP_ProcessContour, DW_ROIBinaryImageForStructurizing> {
 public:
  explicit DW_Contours(DW_ROIBinaryImageForStructurizing* parent);
  explicit DW_Contours(const DW_Contours* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 23: not an image. Extra input: the perspective-corrected image of the region.
class ORVEX_EXPORT DW_LineSegments : public DW_BaseTemplate<DP_ProcessLineSet, DW_Contours> {
 public:
  DW_LineSegments(DW_Contours* parent, const QZVP_LineExtractionModeStruct* mode);
  explicit DW_LineSegments(const DW_LineSegments* other);
  void SetROIGrayscaleImagePerspectiveCorrectedDataUnit(DW_ROIGrayscaleImagePerspectiveCorrected* perspective);

 private:
  void CreateData(bool generate) override;
  bool ExtraInputsReady() const override;
  void PrepareRequiredData() override;
  QZVP_LineExtractionModeStruct modeRecord;
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> perspectiveImageData;
};

}  // namespace orvex

#endif
