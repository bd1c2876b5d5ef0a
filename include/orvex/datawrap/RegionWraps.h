// The data wraps of one region of one source: stages 9 to 23.
//
// The region colour image, which the host adds through its node, has a class of its own,
// below; every later wrap is DW_Stage<N> (StageWraps.h), named in the stage table
// (DW_ROIGrayscaleImageColourConverted to DW_LineSegments) and made by its node on top of
// its parent's wrap.
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

}  // namespace orvex

#endif
