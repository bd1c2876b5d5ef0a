// The whole-image wraps: constructors, copies, extra inputs and the stage objects they build.
#include <orvex/datawrap/WholeImageWraps.h>

#include "TimedStep.h"
#include "WrapHelpers.h"

namespace orvex {

using wraps::CopyOrDefault;
using wraps::CopyUnder;
using wraps::ReadyExtraInput;
using wraps::StageOf;

DW_SourceImage::DW_SourceImage(QZRef<QZMatrix> image, int arg1, int arg2)
    : sourceImage(image), sourceImageArg1(arg1), sourceImageArg2(arg2) {
  SetStageType(tav::DUST_SOURCE_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_SourceImage::DW_SourceImage(const DW_SourceImage* other)
    : sourceImage(other->sourceImage), sourceImageArg1(other->sourceImageArg1), sourceImageArg2(other->sourceImageArg2) {
  Clone(other);
}

void DW_SourceImage::CreateData(bool generate) {
  TimedStep step("DW_SourceImage_CreateData");
  InstallStage(QZRef<DP_SourceImage>(new DP_SourceImage(sourceImage, sourceImageArg1, sourceImageArg2)), generate);
}

DW_ColourImageAfterSizeFitting::DW_ColourImageAfterSizeFitting(DW_SourceImage* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ColourImageAfterSizeFitting::DW_ColourImageAfterSizeFitting(const DW_ColourImageAfterSizeFitting* other) {
  Clone(other);
}

void DW_ColourImageAfterSizeFitting::CreateData(bool generate) {
  TimedStep step("DW_ColourImageAfterSizeFitting_CreateData");
  InstallStage(NewStageOnParent(), generate);
}

DW_ColourImageAfterScalingDown::DW_ColourImageAfterScalingDown(DW_ColourImageAfterSizeFitting* parent, int value)
    : DW_ImageTemplate(parent), scalingDownParameter(value) {
  SetStageType(tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ColourImageAfterScalingDown::DW_ColourImageAfterScalingDown(const DW_ColourImageAfterScalingDown* other)
    : scalingDownParameter(other->scalingDownParameter) {
  Clone(other);
}

void DW_ColourImageAfterScalingDown::CreateData(bool generate) {
  TimedStep step("DW_ColourImageAfterScalingDown_CreateData");
  InstallStage(NewStageOnParent(scalingDownParameter), generate);
}

DW_ColourImageForROI::DW_ColourImageForROI(DW_ColourImageAfterScalingDown* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_COLOUR_IMAGE_FOR_ROI);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ColourImageForROI::DW_ColourImageForROI(const DW_ColourImageForROI* other) { Clone(other); }

void DW_ColourImageForROI::CreateData(bool generate) {
  TimedStep step("DW_ColourImageForROI_CreateData");
  InstallStage(ParentStage(), generate);
}

DW_GrayscaleImageColourConverted::DW_GrayscaleImageColourConverted(DW_ColourImageForROI* parent,
                                                                   const QZVP_ColourConversionModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_GrayscaleImageColourConverted::DW_GrayscaleImageColourConverted(const DW_GrayscaleImageColourConverted* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
}

void DW_GrayscaleImageColourConverted::CreateData(bool generate) {
  TimedStep step("DW_GrayscaleImageColourConverted_CreateData");
  InstallStage(NewStageOnParent(&modeRecord), generate);
}

DW_GrayscaleImageTransformed::DW_GrayscaleImageTransformed(DW_GrayscaleImageColourConverted* parent,
                                                           const QZVP_GrayscaleTransformationModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_GrayscaleImageTransformed::DW_GrayscaleImageTransformed(const DW_GrayscaleImageTransformed* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
  colourImageData = CopyUnder(other->dataMutex, other->colourImageData);
}

void DW_GrayscaleImageTransformed::SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(colourImageData, colour);
}

void DW_GrayscaleImageTransformed::PrepareRequiredData() {
  DW_ImageTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, colourImageData);
}

void DW_GrayscaleImageTransformed::CreateData(bool generate) {
  TimedStep step("DW_GrayscaleImageTransformed_CreateData");
  QZRef<DP_GrayTransformWholeImage> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  stage->linkedStage1.reset(StageOf(colourImageData));
  InstallStage(stage, generate);
  LetGoOfExtraInput(colourImageData);
}

DW_GrayscaleImageForROI::DW_GrayscaleImageForROI(DW_GrayscaleImageTransformed* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_GRAYSCALE_IMAGE_FOR_ROI);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_GrayscaleImageForROI::DW_GrayscaleImageForROI(const DW_GrayscaleImageForROI* other) { Clone(other); }

void DW_GrayscaleImageForROI::CreateData(bool generate) {
  TimedStep step("DW_GrayscaleImageForROI_CreateData");
  InstallStage(ParentStage(), generate);
}

DW_CandidateROIs::DW_CandidateROIs(DW_GrayscaleImageForROI* parent, const QZVP_RegionPredetectionModeStruct* mode)
    : DW_BaseTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_CANDIDATE_ROIS);
  SetMediaType(tav::DUMT_NONE);
}

DW_CandidateROIs::DW_CandidateROIs(const DW_CandidateROIs* other) : modeRecord(other->modeRecord) {
  Clone(other);
  colourImageData = CopyUnder(other->dataMutex, other->colourImageData);
}

void DW_CandidateROIs::SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(colourImageData, colour);
}

QZRef<QZMatrix> DW_CandidateROIs::GetColourImage() const {
  std::lock_guard<std::mutex> lock(dataMutex);
  return colourImage;
}

bool DW_CandidateROIs::ExtraInputsReady() const { return RequiredDataAvailableLocked() || (colourImageData); }

void DW_CandidateROIs::PrepareRequiredData() {
  DW_BaseTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, colourImageData);
}

void DW_CandidateROIs::CreateData(bool generate) {
  TimedStep step("DW_CandidateROIs_CreateData");
  QZRef<DP_DetectROIs> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  if (DP_ScalingDownImage* colourStage = StageOf(colourImageData)) {
    stage->linkedStage1.reset(colourStage);
    colourImage = colourStage->GetPrimaryData(false);
  }
  InstallStage(stage, generate);
  LetGoOfExtraInput(colourImageData);
}

}  // namespace orvex
