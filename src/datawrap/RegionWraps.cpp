// The region wraps: constructors, copies, extra inputs and the stage objects they build.
#include <orvex/datawrap/RegionWraps.h>

#include <orvex/foundation/HashId.h>

#include "WrapHelpers.h"

namespace orvex {

using wraps::CopyOrDefault;
using wraps::CopyUnder;
using wraps::ReadyExtraInput;
using wraps::StageOf;

DW_ROIColourImage::DW_ROIColourImage(DW_CandidateROIs* parent, const QZ_Quad& regionQuad)
    : DW_ImageTemplate(parent), quad(regionQuad) {
  SetStageType(tav::DUST_ROI_COLOUR_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
  std::lock_guard<std::mutex> lock(dataMutex);
  const std::string id = RegionHashId(parent, quad);
  if (!id.empty()) SetDataHashID(id);
}

std::string DW_ROIColourImage::RegionHashId(DW_CandidateROIs* regions, QZ_Quad& quad) {
  QZRef<QZMatrix> colour = regions != nullptr ? regions->GetColourImage() : QZRef<QZMatrix>();
  if (!colour) return std::string();
  // The colour image's pixels never change once computed, so its id is computed once.
  if (colour->GetHashIDLength() == 0) CalcQZMatrixHashID(*colour);
  CalcQZQuadHashID(quad);
  const std::string matrixId = colour->GetHashID();
  if (matrixId.empty() || quad.GetHashID().empty()) return std::string();
  const std::string seed = matrixId + quad.GetHashID();
  const std::string id = GenerateHashId(seed.data(), static_cast<unsigned int>(seed.size()));
  if (id.empty()) return std::string();
  return id + "-" + std::to_string(static_cast<int>(tav::DUST_ROI_COLOUR_IMAGE));
}

DW_ROIColourImage::DW_ROIColourImage(const DW_ROIColourImage* other) : quad(other->quad) { Clone(other); }

void DW_ROIColourImage::CreateData(bool generate) { InstallStage(NewStageOnParent(quad), generate); }

DW_ROIGrayscaleImageColourConverted::DW_ROIGrayscaleImageColourConverted(DW_ROIColourImage* parent,
                                                                         const QZVP_ColourConversionModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImageColourConverted::DW_ROIGrayscaleImageColourConverted(
    const DW_ROIGrayscaleImageColourConverted* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
  colourImageData = CopyUnder(other->dataMutex, other->colourImageData);
  grayscaleImageData = CopyUnder(other->dataMutex, other->grayscaleImageData);
}

void DW_ROIGrayscaleImageColourConverted::SetColourImageAfterScalingDownDataUnit(DW_ColourImageAfterScalingDown* colour) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(colourImageData, colour);
}

void DW_ROIGrayscaleImageColourConverted::SetGrayscaleImageTransformedDataUnit(DW_GrayscaleImageTransformed* gray) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(grayscaleImageData, gray);
}

void DW_ROIGrayscaleImageColourConverted::PrepareRequiredData() {
  DW_ImageTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, grayscaleImageData);
  ReadyExtraInput(dataMutex, colourImageData);
}

void DW_ROIGrayscaleImageColourConverted::CreateData(bool generate) {
  QZRef<DP_ColourConvertROIImage> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  stage->linkedStage1.reset(StageOf(colourImageData));
  stage->linkedStage2.reset(StageOf(grayscaleImageData));
  InstallStage(stage, generate);
  LetGoOfExtraInput(colourImageData);
  LetGoOfExtraInput(grayscaleImageData);
}

DW_ROIGrayscaleImageTransformed::DW_ROIGrayscaleImageTransformed(DW_ROIGrayscaleImageColourConverted* parent,
                                                                 const QZVP_GrayscaleTransformationModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImageTransformed::DW_ROIGrayscaleImageTransformed(const DW_ROIGrayscaleImageTransformed* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
}

void DW_ROIGrayscaleImageTransformed::CreateData(bool generate) { InstallStage(NewStageOnParent(&modeRecord), generate); }

DW_ROIGrayscaleImage::DW_ROIGrayscaleImage(DW_ROIGrayscaleImageTransformed* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImage::DW_ROIGrayscaleImage(const DW_ROIGrayscaleImage* other) { Clone(other); }

void DW_ROIGrayscaleImage::CreateData(bool generate) { InstallStage(ParentStage(), generate); }

DW_ROIGrayscaleImageRotated::DW_ROIGrayscaleImageRotated(DW_ROIGrayscaleImage* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImageRotated::DW_ROIGrayscaleImageRotated(const DW_ROIGrayscaleImageRotated* other) { Clone(other); }

void DW_ROIGrayscaleImageRotated::CreateData(bool generate) { InstallStage(NewStageOnParent(), generate); }

DW_ROIGrayscaleImagePerspectiveCorrected::DW_ROIGrayscaleImagePerspectiveCorrected(DW_ROIGrayscaleImageRotated* parent)
    : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImagePerspectiveCorrected::DW_ROIGrayscaleImagePerspectiveCorrected(
    const DW_ROIGrayscaleImagePerspectiveCorrected* other) {
  Clone(other);
}

void DW_ROIGrayscaleImagePerspectiveCorrected::CreateData(bool generate) {
  InstallStage(NewStageOnParent(), generate);
}

DW_ROIGrayscaleImageEnhanced::DW_ROIGrayscaleImageEnhanced(DW_ROIGrayscaleImagePerspectiveCorrected* parent,
                                                           const QZVP_GrayscaleEnhancementModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImageEnhanced::DW_ROIGrayscaleImageEnhanced(const DW_ROIGrayscaleImageEnhanced* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
}

void DW_ROIGrayscaleImageEnhanced::CreateData(bool generate) { InstallStage(NewStageOnParent(&modeRecord), generate); }

DW_ROIGaryImageProcessed::DW_ROIGaryImageProcessed(DW_ROIGrayscaleImageEnhanced* parent) : DW_ImageTemplate(parent) {
  SetStageType(tav::DUST_ROI_GRAY_IMAGE_PROCESSED);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGaryImageProcessed::DW_ROIGaryImageProcessed(const DW_ROIGaryImageProcessed* other) { Clone(other); }

void DW_ROIGaryImageProcessed::CreateData(bool generate) { InstallStage(ParentStage(), generate); }

DW_ROIBinaryImage::DW_ROIBinaryImage(DW_ROIGaryImageProcessed* parent, const QZVP_BinarizationModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_BINARY_IMAGE);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIBinaryImage::DW_ROIBinaryImage(const DW_ROIBinaryImage* other) : modeRecord(other->modeRecord) { Clone(other); }

void DW_ROIBinaryImage::CreateData(bool generate) { InstallStage(NewStageOnParent(&modeRecord), generate); }

DW_TextureDetectionResult::DW_TextureDetectionResult(DW_ROIBinaryImage* parent,
                                                     const std::vector<QZVP_TextureDetectionModeStruct>* modes)
    : DW_BaseTemplate(parent), modeRecord(CopyOrDefault(modes)) {
  SetStageType(tav::DUST_ROI_TEXTURE_DETECTION_RESULT);
  SetMediaType(tav::DUMT_NONE);
}

DW_TextureDetectionResult::DW_TextureDetectionResult(const DW_TextureDetectionResult* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
}

void DW_TextureDetectionResult::CreateData(bool generate) { InstallStage(NewStageOnParent(&modeRecord), generate); }

DW_ROIGrayscaleImageForStructurizing::DW_ROIGrayscaleImageForStructurizing(
    DW_TextureDetectionResult* parent, const QZVP_GrayscaleEnhancementModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIGrayscaleImageForStructurizing::DW_ROIGrayscaleImageForStructurizing(
    const DW_ROIGrayscaleImageForStructurizing* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
  enhancedImageData = CopyUnder(other->dataMutex, other->enhancedImageData);
  perspectiveImageData = CopyUnder(other->dataMutex, other->perspectiveImageData);
}

void DW_ROIGrayscaleImageForStructurizing::SetROIGrayscaleImageEnhancedDataUnit(DW_ROIGrayscaleImageEnhanced* enhanced) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(enhancedImageData, enhanced);
}

void DW_ROIGrayscaleImageForStructurizing::SetROIGrayscaleImagePerspectiveCorrectedDataUnit(
    DW_ROIGrayscaleImagePerspectiveCorrected* perspective) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(perspectiveImageData, perspective);
}

void DW_ROIGrayscaleImageForStructurizing::PrepareRequiredData() {
  DW_ImageTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, enhancedImageData);
  ReadyExtraInput(dataMutex, perspectiveImageData);
}

void DW_ROIGrayscaleImageForStructurizing::CreateData(bool generate) {
  QZRef<DP_EnhanceTextureImage> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  stage->linkedStage1.reset(StageOf(enhancedImageData));
  stage->linkedStage2.reset(StageOf(perspectiveImageData));
  InstallStage(stage, generate);
  LetGoOfExtraInput(enhancedImageData);
  LetGoOfExtraInput(perspectiveImageData);
}

DW_ROIBinaryImageForTextFiltering::DW_ROIBinaryImageForTextFiltering(DW_ROIGrayscaleImageForStructurizing* parent,
                                                                     const QZVP_BinarizationModeStruct* mode)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIBinaryImageForTextFiltering::DW_ROIBinaryImageForTextFiltering(const DW_ROIBinaryImageForTextFiltering* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
  textureResultData = CopyUnder(other->dataMutex, other->textureResultData);
  binaryImageData = CopyUnder(other->dataMutex, other->binaryImageData);
}

void DW_ROIBinaryImageForTextFiltering::SetTextureDetectionResultDataUnit(DW_TextureDetectionResult* texture) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(textureResultData, texture);
}

void DW_ROIBinaryImageForTextFiltering::SetROIBinaryImageDataUnit(DW_ROIBinaryImage* binary) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(binaryImageData, binary);
}

void DW_ROIBinaryImageForTextFiltering::PrepareRequiredData() {
  DW_ImageTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, textureResultData);
  ReadyExtraInput(dataMutex, binaryImageData);
}

void DW_ROIBinaryImageForTextFiltering::CreateData(bool generate) {
  QZRef<DP_BinarizeTextureImage> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  stage->linkedStage1.reset(StageOf(textureResultData));
  stage->linkedStage2.reset(StageOf(binaryImageData));
  InstallStage(stage, generate);
  LetGoOfExtraInput(textureResultData);
  LetGoOfExtraInput(binaryImageData);
}

DW_ROIBinaryImageForStructurizing::DW_ROIBinaryImageForStructurizing(DW_ROIBinaryImageForTextFiltering* parent,
                                                                     const std::vector<QZVP_TextFilterModeStruct>* modes)
    : DW_ImageTemplate(parent), modeRecord(CopyOrDefault(modes)) {
  SetStageType(tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING);
  SetMediaType(tav::DUMT_IMAGE);
}

DW_ROIBinaryImageForStructurizing::DW_ROIBinaryImageForStructurizing(const DW_ROIBinaryImageForStructurizing* other)
    : modeRecord(other->modeRecord) {
  Clone(other);
}

void DW_ROIBinaryImageForStructurizing::CreateData(bool generate) {
  InstallStage(NewStageOnParent(&modeRecord), generate);
}

DW_Contours::DW_Contours(DW_ROIBinaryImageForStructurizing* parent) : DW_BaseTemplate(parent) {
  SetStageType(tav::DUST_CONTOURS);
  SetMediaType(tav::DUMT_NONE);
}

DW_Contours::DW_Contours(const DW_Contours* other) { Clone(other); }

void DW_Contours::CreateData(bool generate) { InstallStage(NewStageOnParent(), generate); }

DW_LineSegments::DW_LineSegments(DW_Contours* parent, const QZVP_LineExtractionModeStruct* mode)
    : DW_BaseTemplate(parent), modeRecord(CopyOrDefault(mode)) {
  SetStageType(tav::DUST_LINE_SEGMENTS);
  SetMediaType(tav::DUMT_NONE);
}

DW_LineSegments::DW_LineSegments(const DW_LineSegments* other) : modeRecord(other->modeRecord) {
  Clone(other);
  perspectiveImageData = CopyUnder(other->dataMutex, other->perspectiveImageData);
}

void DW_LineSegments::SetROIGrayscaleImagePerspectiveCorrectedDataUnit(
    DW_ROIGrayscaleImagePerspectiveCorrected* perspective) {
  std::lock_guard<std::mutex> lock(dataMutex);
  AttachExtraInput(perspectiveImageData, perspective);
}

bool DW_LineSegments::ExtraInputsReady() const { return RequiredDataAvailableLocked() || (perspectiveImageData); }

void DW_LineSegments::PrepareRequiredData() {
  DW_BaseTemplate::PrepareRequiredData();
  ReadyExtraInput(dataMutex, perspectiveImageData);
}

void DW_LineSegments::CreateData(bool generate) {
  QZRef<DP_ProcessLineSet> stage = NewStageOnParent(&modeRecord);
  if (!stage) return;
  stage->linkedStage1.reset(StageOf(perspectiveImageData));
  InstallStage(stage, generate);
  LetGoOfExtraInput(perspectiveImageData);
}

}  // namespace orvex
