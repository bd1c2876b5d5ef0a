// The data wraps of the whole image of one source: stages 1 to 8.
//
// Stages 2 to 7 are named classes deriving from DW_Stage<N> (StageWraps.h), which gives
// them everything from their rows. The source image and the candidate regions add
// behaviour of their own. Each
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
  // Whether the image is known by its id and has no pixels yet (none were fetched, or
  // fetching them failed): pixels another add brings are then welcome.
  bool NeedsPixels() const;
  // Pixels of this image (its hash id is this result's) or a loader of them, from
  // another add: taken while the result needs pixels, else dropped. Thread-safe.
  void OfferPixels(QZRef<QZMatrix> image);
  void OfferPixels(QZRef<SourcePixels> pixels);
  int GetSourceImageArg1() const { return sourceImageArg1; }
  int GetSourceImageArg2() const { return sourceImageArg2; }

 private:
  void CreateData(bool generate) ORVEX_REQUIRES(dataMutex) override;
  const QZRef<QZMatrix> sourceImage;
  const QZRef<SourcePixels> sourcePixels;
  const std::string knownHashId;
  const int sourceImageArg1;
  const int sourceImageArg2;
  // What other adds offered before the stage object was made; handed to it when it is.
  QZRef<QZMatrix> offeredImage ORVEX_GUARDED_BY(dataMutex);
  QZRef<SourcePixels> offeredPixels ORVEX_GUARDED_BY(dataMutex);
};

// Stages 2 to 7: the wraps the stage table derives entirely from their rows, each a class of
// its own so that hosts can declare it ahead.
class ORVEX_EXPORT DW_ColourImageAfterSizeFitting : public DW_Stage<tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ColourImageAfterScalingDown : public DW_Stage<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_ColourImageForROI : public DW_Stage<tav::DUST_COLOUR_IMAGE_FOR_ROI> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_GrayscaleImageColourConverted : public DW_Stage<tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_GrayscaleImageTransformed : public DW_Stage<tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED> { public: using DW_Stage::DW_Stage; };
class ORVEX_EXPORT DW_GrayscaleImageForROI : public DW_Stage<tav::DUST_GRAYSCALE_IMAGE_FOR_ROI> { public: using DW_Stage::DW_Stage; };

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
