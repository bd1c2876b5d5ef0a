// The source image and candidate-regions wraps: what they do beyond their table rows.
#include <orvex/datawrap/WholeImageWraps.h>

namespace orvex {

DW_SourceImage::DW_SourceImage(QZRef<QZMatrix> image, int arg1, int arg2)
    : sourceImage(image), sourceImageArg1(arg1), sourceImageArg2(arg2) {
  SetStageType(tav::DUST_SOURCE_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_SourceImage::DW_SourceImage(QZRef<SourcePixels> pixels, const std::string& hashId, int arg1, int arg2)
    : sourcePixels(std::move(pixels)), knownHashId(hashId), sourceImageArg1(arg1), sourceImageArg2(arg2) {
  SetStageType(tav::DUST_SOURCE_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_SourceImage::DW_SourceImage(const DW_SourceImage* other)
    : sourceImage(other->sourceImage),
      sourcePixels(other->sourcePixels),
      knownHashId(other->knownHashId),
      sourceImageArg1(other->sourceImageArg1),
      sourceImageArg2(other->sourceImageArg2) {
  Clone(other);
}

QZRef<QZMatrix> DW_SourceImage::GetSourceImage() const {
  if (sourceImage) return sourceImage;
  QZRef<DP_SourceImage> stage;
  {
    MutexLock lock(dataMutex);
    stage = stageData;
  }
  return stage ? stage->GetPrimaryData(false) : QZRef<QZMatrix>();
}

bool DW_SourceImage::NeedsPixels() const {
  if (!IsKnownById()) return false;
  QZRef<DP_SourceImage> stage;
  {
    MutexLock lock(dataMutex);
    if (!stageData) return !offeredImage;
    stage = stageData;
  }
  return stage->NeedsPixels();
}

void DW_SourceImage::OfferPixels(QZRef<QZMatrix> image) {
  if (!IsKnownById() || !image) return;
  QZRef<DP_SourceImage> stage;
  {
    MutexLock lock(dataMutex);
    if (!stageData) {
      if (!offeredImage) offeredImage.swap(image);
      return;  // what is not taken goes after the lock, with `image`
    }
    stage = stageData;
  }
  stage->OfferPixels(std::move(image));
}

void DW_SourceImage::OfferPixels(QZRef<SourcePixels> pixels) {
  if (!IsKnownById() || !pixels) return;
  QZRef<DP_SourceImage> stage;
  {
    MutexLock lock(dataMutex);
    if (!stageData) {
      offeredPixels.swap(pixels);
      return;
    }
    stage = stageData;
  }
  stage->OfferPixels(std::move(pixels));
}

void DW_SourceImage::CreateData(bool generate) {
  TimedStep step(StageRow<tav::DUST_SOURCE_IMAGE>::kTimingLabel);
  QZRef<DP_SourceImage> stage(sourcePixels ? new DP_SourceImage(offeredPixels ? offeredPixels : sourcePixels, knownHashId,
                                                                sourceImageArg1, sourceImageArg2)
                                           : new DP_SourceImage(sourceImage, sourceImageArg1, sourceImageArg2));
  if (offeredImage) stage->OfferPixels(offeredImage);
  InstallStage(stage, generate);
}

DW_CandidateROIs::DW_CandidateROIs(DW_GrayscaleImageForROI* parent, const QZVP_RegionPredetectionModeStruct* mode)
    : DW_Stage(parent, mode) {}

DW_CandidateROIs::DW_CandidateROIs(const DW_CandidateROIs* other) : DW_Stage(other) {}

QZRef<QZMatrix> DW_CandidateROIs::GetColourImage() const {
  MutexLock lock(dataMutex);
  return colourImage;
}

void DW_CandidateROIs::StageLinked(DP_DetectROIs& stage) {
  // The colour image as computed now: it is never computed here.
  if (stage.linkedStage1) colourImage = stage.linkedStage1->GetPrimaryData(false);
}

}  // namespace orvex
