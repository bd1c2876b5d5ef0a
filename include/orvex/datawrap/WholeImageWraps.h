// The eight whole-image results of one source image, from the source itself to the
// candidate regions. Each is made by its parameter node on top of its parent's wrap and
// keeps its own copy of its mode record. Extra inputs are held counted until the stage
// object is created, then cleared. Every CreateData writes a timed entry and exit record
// to QZLog::m_instance.
#ifndef ORVEX_DATAWRAP_WHOLEIMAGEWRAPS_H
#define ORVEX_DATAWRAP_WHOLEIMAGEWRAPS_H

#include <orvex/datawrap/DW_Templates.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/modes/ModeRecords.h>

namespace orvex {

// Stage 1. The two integers go unchanged to the source stage (the largest size the
// size-fitting stage lets through).
class ORVEX_EXPORT DW_SourceImage : public DW_ImageTemplate<DP_SourceImage, DW_NoneDataWrap> {
 public:
  DW_SourceImage(QZRef<QZMatrix> image, int sourceImageArg1, int sourceImageArg2);
  explicit DW_SourceImage(const DW_SourceImage* other);
  QZRef<QZMatrix> GetSourceImage() const { return sourceImage; }
  int GetSourceImageArg1() const { return sourceImageArg1; }
  int GetSourceImageArg2() const { return sourceImageArg2; }

 private:
  void CreateData(bool generate) override;
  QZRef<QZMatrix> sourceImage;
  int sourceImageArg1;
  int sourceImageArg2;
};

// Stage 2.
class ORVEX_EXPORT DW_ColourImageAfterSizeFitting : public DW_ImageTemplate<DP_SizeFittingImage, DW_SourceImage> {
 public:
  explicit DW_ColourImageAfterSizeFitting(DW_SourceImage* parent);
  explicit DW_ColourImageAfterSizeFitting(const DW_ColourImageAfterSizeFitting* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 3.
class ORVEX_EXPORT DW_ColourImageAfterScalingDown
    : public DW_ImageTemplate<DP_ScalingDownImage, DW_ColourImageAfterSizeFitting> {
 public:
  DW_ColourImageAfterScalingDown(DW_ColourImageAfterSizeFitting* parent, int scalingDownParameter);
  explicit DW_ColourImageAfterScalingDown(const DW_ColourImageAfterScalingDown* other);

 private:
  void CreateData(bool generate) override;
  int scalingDownParameter;
};

// Stage 4: selects its parent's image (shares its stage object).
class ORVEX_EXPORT DW_ColourImageForROI : public DW_ImageTemplate<DP_ScalingDownImage, DW_ColourImageAfterScalingDown> {
 public:
  explicit DW_ColourImageForROI(DW_ColourImageAfterScalingDown* parent);
  explicit DW_ColourImageForROI(const DW_ColourImageForROI* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 5.
class ORVEX_EXPORT DW_GrayscaleImageColourConverted
    : public DW_ImageTemplate<DP_ColourConvertWholeImage, DW_ColourImageForROI> {
 public:
  DW_GrayscaleImageColourConverted(DW_ColourImageForROI* parent, const QZVP_ColourConversionModeStruct* mode);
  explicit DW_GrayscaleImageColourConverted(const DW_GrayscaleImageColourConverted* other);

 private:
  void CreateData(bool generate) override;
  QZVP_ColourConversionModeStruct modeRecord;
};

// Stage 6. Extra input: the scaled-down colour image of the same source.
class ORVEX_EXPORT DW_GrayscaleImageTransformed
    : public DW_ImageTemplate<DP_GrayTransformWholeImage, DW_GrayscaleImageColourConverted> {
 public:
  DW_GrayscaleImageTransformed(DW_GrayscaleImageColourConverted* parent,
                               const QZVP_GrayscaleTransformationModeStruct* mode);
  explicit DW_GrayscaleImageTransformed(const DW_GrayscaleImageTransformed* other);
  void SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour);

 private:
  void CreateData(bool generate) override;
  void PrepareRequiredData() override;
  QZVP_GrayscaleTransformationModeStruct modeRecord;
  QZRef<DW_ColourImageAfterScalingDown> colourImageData;
};

// Stage 7: selects its parent's image (shares its stage object).
class ORVEX_EXPORT DW_GrayscaleImageForROI
    : public DW_ImageTemplate<DP_GrayTransformWholeImage, DW_GrayscaleImageTransformed> {
 public:
  explicit DW_GrayscaleImageForROI(DW_GrayscaleImageTransformed* parent);
  explicit DW_GrayscaleImageForROI(const DW_GrayscaleImageForROI* other);

 private:
  void CreateData(bool generate) override;
};

// Stage 8: the candidate regions. Extra input: the scaled-down colour image, whose
// computed image it keeps for the region colour images (GetColourImage).
class ORVEX_EXPORT DW_CandidateROIs : public DW_BaseTemplate<DP_DetectROIs, DW_GrayscaleImageForROI> {
 public:
  DW_CandidateROIs(DW_GrayscaleImageForROI* parent, const QZVP_RegionPredetectionModeStruct* mode);
  explicit DW_CandidateROIs(const DW_CandidateROIs* other);
  void SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour);
  // The colour image the regions are cut from; null before the stage was created or
  // when the colour input was never attached.
  QZRef<QZMatrix> GetColourImage() const;

 private:
  void CreateData(bool generate) override;
  bool ExtraInputsReady() const override;
  void PrepareRequiredData() override;
  QZVP_RegionPredetectionModeStruct modeRecord;
  QZRef<QZMatrix> colourImage;
  QZRef<DW_ColourImageAfterScalingDown> colourImageData;
};

}  // namespace orvex

#endif
