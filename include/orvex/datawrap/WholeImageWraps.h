// The data wraps of the whole image of one source: stages 1 to 8.
//
// Stages 2 to 7 are DW_Stage<N> (StageWraps.h), named in the stage table
// (DW_ColourImageAfterSizeFitting, DW_ColourImageAfterScalingDown, DW_ColourImageForROI,
// DW_GrayscaleImageColourConverted, DW_GrayscaleImageTransformed, DW_GrayscaleImageForROI).
// The source image and the candidate regions have classes of their own, below. Each
// whole-image wrap writes a timed entry and exit record when it makes its processing stage.
#ifndef ORVEX_DATAWRAP_WHOLEIMAGEWRAPS_H
#define ORVEX_DATAWRAP_WHOLEIMAGEWRAPS_H

#include <orvex/datawrap/StageWraps.h>

namespace orvex {

// Stage 1: the host's image. The two integers go unchanged to the source stage (the
// largest size the size-fitting stage lets through).
class ORVEX_EXPORT DW_SourceImage : public DW_ImageTemplate<DP_SourceImage, DW_NoneDataWrap> {
 public:
  DW_SourceImage(QZRef<QZMatrix> image, int sourceImageArg1, int sourceImageArg2);
  // An image known by its hash id, whose pixels `pixels` gives when a result first needs
  // them (see SourcePixels).
  DW_SourceImage(QZRef<SourcePixels> pixels, const std::string& hashId, int sourceImageArg1, int sourceImageArg2);
  explicit DW_SourceImage(const DW_SourceImage* other);
  // The pixels: the image given, or those fetched for a known image once a result needed
  // them (null before).
  QZRef<QZMatrix> GetSourceImage() const;
  // Whether the pixels are fetched when needed rather than given.
  bool IsKnownById() const { return static_cast<bool>(sourcePixels); }
  int GetSourceImageArg1() const { return sourceImageArg1; }
  int GetSourceImageArg2() const { return sourceImageArg2; }

 private:
  void CreateData(bool generate) ORVEX_REQUIRES(dataMutex) override;
  QZRef<QZMatrix> sourceImage;
  QZRef<SourcePixels> sourcePixels;
  std::string knownHashId;
  int sourceImageArg1;
  int sourceImageArg2;
};

// Stage 8: the candidate regions. It keeps the computed image of its colour input for
// the region colour images, which are cut from it and named after it (GetColourImage).
class ORVEX_EXPORT DW_CandidateROIs : public DW_Stage<tav::DUST_CANDIDATE_ROIS> {
 public:
  DW_CandidateROIs(DW_GrayscaleImageForROI* parent, const QZVP_RegionPredetectionModeStruct* mode);
  explicit DW_CandidateROIs(const DW_CandidateROIs* other);
  // The colour image the regions are cut from; null before the stage was created or
  // when the colour input was never attached.
  QZRef<QZMatrix> GetColourImage() const;

 private:
  void StageLinked(DP_DetectROIs& stage) ORVEX_REQUIRES(dataMutex) override;
  QZRef<QZMatrix> colourImage ORVEX_GUARDED_BY(dataMutex);
};

}  // namespace orvex

#endif
