// The data wraps of one region of one source: stages 9 to 23.
//
// The region colour image, which the host adds through its node, has behaviour of its own;
// every later wrap (DW_ROIGrayscaleImageColourConverted to DW_LineSegments) is a named
// class deriving from DW_Stage<N> (StageWraps.h).
#ifndef ORVEX_DATAWRAP_REGIONWRAPS_H
#define ORVEX_DATAWRAP_REGIONWRAPS_H

#include <orvex/datawrap/WholeImageWraps.h>
#include <orvex/improc/QZ_Quad.h>

#include <string>

namespace orvex {

// Stage 9. Its hash id is formed from the source image's id, the candidate regions' colour
// image and the quadrilateral, and ends in "-9"; without a colour image it has none. (The
// source's id keeps apart the regions of two sources that scale down to equal images:
// a region's results map to their own source's coordinates and go with its release.)
class ORVEX_EXPORT DW_ROIColourImage : public DW_ImageTemplate<DP_ROIImage, DW_CandidateROIs> {
 public:
  DW_ROIColourImage(DW_CandidateROIs* parent, const QZ_Quad& quad);
  explicit DW_ROIColourImage(const DW_ROIColourImage* other);
  const QZ_Quad& GetQuad() const { return quad; }
  int StoredCodeVersion() const override {
    return stages::StoredCodeVersionOf<StageRow<tav::DUST_ROI_COLOUR_IMAGE>>();
  }
  // The hash id a region colour image of `quad` below `regions` gets (it computes the
  // quadrilateral's id into `quad`); empty when `regions` holds no colour image.
  static std::string RegionHashId(DW_CandidateROIs* regions, QZ_Quad& quad);

 private:
  void CreateData(bool generate) ORVEX_REQUIRES(dataMutex) override;
  QZ_Quad quad;
};

// Stages 10 to 23: named classes deriving from DW_Stage<N>, which gives them everything
// from their rows; each made by its node on top of its parent's wrap.
class ORVEX_EXPORT DW_ROIGrayscaleImageColourConverted : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImageTransformed : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImage : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImageRotated : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImagePerspectiveCorrected : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImageEnhanced : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGaryImageProcessed : public DW_Stage<tav::DUST_ROI_GRAY_IMAGE_PROCESSED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIBinaryImage : public DW_Stage<tav::DUST_ROI_BINARY_IMAGE> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_TextureDetectionResult : public DW_Stage<tav::DUST_ROI_TEXTURE_DETECTION_RESULT> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIGrayscaleImageForStructurizing : public DW_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIBinaryImageForTextFiltering : public DW_Stage<tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ROIBinaryImageForStructurizing : public DW_Stage<tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_Contours : public DW_Stage<tav::DUST_CONTOURS> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_LineSegments : public DW_Stage<tav::DUST_LINE_SEGMENTS> { public: using DW_Stage::DW_Stage; };

}  // namespace orvex

#endif
