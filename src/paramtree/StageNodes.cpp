// The 23 stage nodes: identity, result creation, extra inputs and the two AddData entries.
#include <orvex/paramtree/StageNodes.h>

#include <orvex/foundation/HashId.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>
#include <orvex/paramtree/QZParameterTree.h>

#include <orvex/improc/QZLog.h>

#include "foundation/HashKeys.h"
#include "paramtree/GeneratedModeHashes.h"
#include "paramtree/RequestCounters.h"

#include <cstring>

namespace orvex {

namespace {


std::string KeyHash(const std::string& key) { return GenerateHashId(key.data(), static_cast<unsigned int>(key.size())); }

// The hash of a fixed key text, computed once per process.
template <const char* Key>
const std::string& FixedKeyHash() {
  static const std::string hash = KeyHash(Key);
  return hash;
}

void WriteHashOut(const std::string& id, char* hashOut) {
  if (hashOut != nullptr) std::memcpy(hashOut, id.c_str(), id.size() + 1);
}

// A new wrap of the node's stage for the parent node's result. It is built unlinked:
// the node links it to that result once it has its hash id, so nobody who finds it in
// the parent's child list sees the id change.
template <class Node, class... Args>
QZRef<DW_Base> NewWrap(Node*, Args&&... args) {
  typedef typename Node::WrapType Wrap;
  typedef typename Node::ParentType::WrapType ParentWrap;
  return QZRef<DW_Base>(new Wrap(static_cast<ParentWrap*>(nullptr), std::forward<Args>(args)...));
}

// The ancestor `distance` levels up, typed by the chain of parent classes.
template <int Distance>
struct Ancestor {
  template <class Node>
  static auto Of(Node* node) {
    auto* parent = node != nullptr ? node->GetPreviousNode() : nullptr;
    return Ancestor<Distance - 1>::Of(parent);
  }
};
template <>
struct Ancestor<0> {
  template <class Node>
  static Node* Of(Node* node) {
    return node;
  }
};

// Pixels of two images are the same: same shape, type and row bytes.
bool SamePixels(const QZMatrix& a, const QZMatrix& b) {
  if (&a == &b) return true;
  const cv::Mat& x = a.GetMat();
  const cv::Mat& y = b.GetMat();
  if (x.rows != y.rows || x.cols != y.cols || x.type() != y.type()) return false;
  const size_t rowBytes = x.cols * x.elemSize();
  for (int r = 0; r < x.rows; ++r)
    if (std::memcmp(x.ptr(r), y.ptr(r), rowBytes) != 0) return false;
  return true;
}

// Whether a result found under an image's hash id is that image's source result.
bool IsSourceOf(const QZRef<DW_Base>& found, const QZMatrix& image) {
  const DW_SourceImage* source = dynamic_cast<const DW_SourceImage*>(found.get());
  return source != nullptr && source->GetSourceImage() && SamePixels(*source->GetSourceImage(), image);
}

}  // namespace

PN_SourceImage::PN_SourceImage(QZParameterTree* tree) : QZDelayObj(tree) {
  SetStage(tav::DUST_SOURCE_IMAGE);
  m_singleModeHash = FixedKeyHash<hashkeys::kSourceImageSingleMode>();
  m_layerHash = FixedKeyHash<hashkeys::kSourceImageLayer>();
  m_globalHash = FixedKeyHash<hashkeys::kSourceImageGlobal>() + "+" + std::to_string(static_cast<int>(tav::DUST_SOURCE_IMAGE));
  PublishHashId();
  m_referenceHash = m_globalHash;
}

bool PN_SourceImage::AddData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut) {
  const std::string id = HashIdOfImage(image);
  if (id.empty() || !AddHashedData(image, id, sourceImageArg1, sourceImageArg2)) return false;
  WriteHashOut(id, hashOut);
  return true;
}

std::string PN_SourceImage::HashIdOfImage(QZRef<QZMatrix>& image) {
  if (!image) return std::string();
  if (std::min(image->GetMat().rows, image->GetMat().cols) < 8) return std::string();
  CalcQZMatrixHashID(*image);
  std::string id = image->GetHashID();
  if (id.size() > kHashIdBufferSize - 1) id.clear();
  return id;
}

bool PN_SourceImage::AddHashedData(QZRef<QZMatrix>& image, const std::string& id, int sourceImageArg1,
                                   int sourceImageArg2) {
  QZRef<DW_Base> displaced;  // released after the lock
  std::lock_guard<std::mutex> lock(m_dataMutex);
  const QZRef<DW_Base>* own = m_dataMap.Find(id);
  QZRef<DW_Base> result;
  bool created = false;
  if (own != nullptr) {
    result = *own;
  } else {
    result = m_table->FindOrAdd(id, m_stageType, [&] {
      QZRef<DW_Base> source(new DW_SourceImage(image, sourceImageArg1, sourceImageArg2));
      source->SetDataHashID(id);
      source->SetSourceHashID(id);
      return source;
    }, &created, &displaced);
  }
  if (!created) {
    // An equal id with other pixels is a hash collision: never hand out another image's results.
    const auto* source = static_cast<const DW_SourceImage*>(result.get());
    if (!IsSourceOf(result, *image)) return false;
    if (source->GetSourceImageArg1() != sourceImageArg1 || source->GetSourceImageArg2() != sourceImageArg2) {
      // Results made with other size limits would be handed out as if made with these.
      QZLog::m_instance.WriteMessage(1, "PN_SourceImage::AddData: refused, the image was added before with other "
                                        "size arguments");
      return false;
    }
  }
  requests::Count(m_stageType, own != nullptr ? requests::kOwn : created ? requests::kCreated : requests::kAdopted);
  if (own == nullptr) StoreResult(id, result);
  return true;
}

PN_ColourImageAfterSizeFitting::PN_ColourImageAfterSizeFitting(QZParameterTree* tree, PN_SourceImage* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING);
  m_singleModeHash = FixedKeyHash<hashkeys::kColourImageAfterSizeFittingSingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ColourImageAfterSizeFitting::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_ColourImageAfterScalingDown::PN_ColourImageAfterScalingDown(QZParameterTree* tree,
                                                               PN_ColourImageAfterSizeFitting* parent, int value)
    : QZDelayObj(tree, parent), m_scalingDownParameter(value) {
  SetStage(tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN);
  m_singleModeHash = KeyHash(hashkeys::kColourImageAfterScalingDownSingleMode + std::to_string(value));
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ColourImageAfterScalingDown::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, m_scalingDownParameter);
}

PN_ColourImageForROI::PN_ColourImageForROI(QZParameterTree* tree, PN_ColourImageAfterScalingDown* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_COLOUR_IMAGE_FOR_ROI);
  m_singleModeHash = FixedKeyHash<hashkeys::kColourImageForROISingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ColourImageForROI::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_GrayscaleImageColourConverted::PN_GrayscaleImageColourConverted(QZParameterTree* tree, PN_ColourImageForROI* parent,
                                                                   const QZVP_ColourConversionModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_GrayscaleImageColourConverted::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

PN_GrayscaleImageTransformed::PN_GrayscaleImageTransformed(QZParameterTree* tree,
                                                           PN_GrayscaleImageColourConverted* parent,
                                                           const QZVP_GrayscaleTransformationModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_GrayscaleImageTransformed::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_GrayscaleImageTransformed::SetRequiredData(const std::string& key, DW_Base* data) {
  auto* wrap = static_cast<DW_GrayscaleImageTransformed*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  PN_ColourImageAfterScalingDown* colourNode = Ancestor<3>::Of(this);
  if (colourNode == nullptr) return;
  QZRef<DW_ColourImageAfterScalingDown> colour = colourNode->GetData(key, true, true);
  if (!colour) return;
  wrap->SetColourImageAfterScalingDownDataUnit(colour.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

PN_GrayscaleImageForROI::PN_GrayscaleImageForROI(QZParameterTree* tree, PN_GrayscaleImageTransformed* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_GRAYSCALE_IMAGE_FOR_ROI);
  m_singleModeHash = FixedKeyHash<hashkeys::kGrayscaleImageForROISingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_GrayscaleImageForROI::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_CandidateROIs::PN_CandidateROIs(QZParameterTree* tree, PN_GrayscaleImageForROI* parent,
                                   const QZVP_RegionPredetectionModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_CANDIDATE_ROIS);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_CandidateROIs::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_CandidateROIs::SetRequiredData(const std::string& key, DW_Base* data) {
  auto* wrap = static_cast<DW_CandidateROIs*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  PN_ColourImageAfterScalingDown* colourNode = Ancestor<5>::Of(this);
  if (colourNode == nullptr) return;
  QZRef<DW_ColourImageAfterScalingDown> colour = colourNode->GetData(key, true, true);
  if (!colour) return;
  wrap->SetColourImageAfterScalingDownDataUnit(colour.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

PN_ROIColourImage::PN_ROIColourImage(QZParameterTree* tree, PN_CandidateROIs* parent) : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_ROI_COLOUR_IMAGE);
  m_singleModeHash = FixedKeyHash<hashkeys::kROIColourImageSingleMode>();
  CommonFillAllHashId();
  // An anchor: the region part below chains its layers afresh and refers to this node.
  if (!m_globalHash.empty()) {
    m_layerHash = FixedKeyHash<hashkeys::kROIColourImageLayer>();
    m_referenceHash = m_globalHash;
  }
}

bool PN_ROIColourImage::AddData(DW_CandidateROIs* regions, const QZ_Quad& quad, char* hashOut) {
  if (regions == nullptr) return false;
  QZ_Quad region(quad);
  const std::string id = DW_ROIColourImage::RegionHashId(regions, region);
  if (id.empty()) return false;
  {
    QZRef<DW_Base> displaced;  // released after the lock
    std::lock_guard<std::mutex> lock(m_dataMutex);
    if (m_dataMap.Find(id) == nullptr) {
      // Another tree may hold this region already: its result is adopted, never replaced.
      bool created = false;
      QZRef<DW_Base> result = m_table->FindOrAdd(id, m_stageType, [&] {
        return QZRef<DW_Base>(new DW_ROIColourImage(regions, quad));
      }, &created, &displaced);
      if (!result) return false;
      StoreResult(id, result);
      if (m_tree != nullptr) m_tree->AddRegionId(regions->GetSourceHashID(), id);
      requests::Count(m_stageType, created ? requests::kCreated : requests::kAdopted);
    } else {
      requests::Count(m_stageType, requests::kOwn);
    }
  }
  if (id.size() > kHashIdBufferSize - 1) return false;
  WriteHashOut(id, hashOut);
  return true;
}

PN_ROIGrayscaleImageColourConverted::PN_ROIGrayscaleImageColourConverted(QZParameterTree* tree,
                                                                         PN_ROIColourImage* parent,
                                                                         const QZVP_ColourConversionModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImageColourConverted::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_ROIGrayscaleImageColourConverted::SetRequiredData(const std::string&, DW_Base* data) {
  auto* wrap = static_cast<DW_ROIGrayscaleImageColourConverted*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  // The ancestors are whole-image nodes: they hold their results under the source's id.
  const std::string sourceKey = wrap->GetSourceHashID();
  PN_GrayscaleImageTransformed* grayNode = Ancestor<4>::Of(this);
  if (grayNode == nullptr) return;
  QZRef<DW_GrayscaleImageTransformed> gray = grayNode->GetData(sourceKey, true, true);
  if (!gray) return;
  PN_ColourImageAfterScalingDown* colourNode = Ancestor<3>::Of(grayNode);
  if (colourNode == nullptr) return;
  QZRef<DW_ColourImageAfterScalingDown> colour = colourNode->GetData(sourceKey, true, true);
  if (!colour) return;
  wrap->SetColourImageAfterScalingDownDataUnit(colour.get());
  wrap->SetGrayscaleImageTransformedDataUnit(gray.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

PN_ROIGrayscaleImageTransformed::PN_ROIGrayscaleImageTransformed(QZParameterTree* tree,
                                                                 PN_ROIGrayscaleImageColourConverted* parent,
                                                                 const QZVP_GrayscaleTransformationModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImageTransformed::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

PN_ROIGrayscaleImage::PN_ROIGrayscaleImage(QZParameterTree* tree, PN_ROIGrayscaleImageTransformed* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE);
  m_singleModeHash = FixedKeyHash<hashkeys::kROIGrayscaleImageSingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImage::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_ROIGrayscaleImageRotated::PN_ROIGrayscaleImageRotated(QZParameterTree* tree, PN_ROIGrayscaleImage* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED);
  m_singleModeHash = FixedKeyHash<hashkeys::kROIGrayscaleImageRotatedSingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImageRotated::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_ROIGrayscaleImagePerspectiveCorrected::PN_ROIGrayscaleImagePerspectiveCorrected(QZParameterTree* tree,
                                                                                   PN_ROIGrayscaleImageRotated* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED);
  m_singleModeHash = FixedKeyHash<hashkeys::kROIGrayscaleImagePerspectiveCorrectedSingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImagePerspectiveCorrected::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_ROIGrayscaleImageEnhanced::PN_ROIGrayscaleImageEnhanced(QZParameterTree* tree,
                                                           PN_ROIGrayscaleImagePerspectiveCorrected* parent,
                                                           const QZVP_GrayscaleEnhancementModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImageEnhanced::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

PN_ROIGaryImageProcessed::PN_ROIGaryImageProcessed(QZParameterTree* tree, PN_ROIGrayscaleImageEnhanced* parent)
    : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_ROI_GRAY_IMAGE_PROCESSED);
  m_singleModeHash = FixedKeyHash<hashkeys::kROIGaryImageProcessedSingleMode>();
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGaryImageProcessed::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_ROIBinaryImage::PN_ROIBinaryImage(QZParameterTree* tree, PN_ROIGaryImageProcessed* parent,
                                     const QZVP_BinarizationModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_BINARY_IMAGE);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIBinaryImage::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

PN_ROITextureDetectionResult::PN_ROITextureDetectionResult(QZParameterTree* tree, PN_ROIBinaryImage* parent,
                                                           const std::vector<QZVP_TextureDetectionModeStruct>& modes)
    : QZDelayObj(tree, parent), m_modes(modes) {
  SetStage(tav::DUST_ROI_TEXTURE_DETECTION_RESULT);
  m_singleModeHash = NodeListHash(modes, m_modes);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROITextureDetectionResult::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_modes);
}

PN_ROIGrayscaleImageForStructurizing::PN_ROIGrayscaleImageForStructurizing(
    QZParameterTree* tree, PN_ROITextureDetectionResult* parent, const QZVP_GrayscaleEnhancementModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIGrayscaleImageForStructurizing::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_ROIGrayscaleImageForStructurizing::SetRequiredData(const std::string& key, DW_Base* data) {
  auto* wrap = static_cast<DW_ROIGrayscaleImageForStructurizing*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  PN_ROIGrayscaleImageEnhanced* enhancedNode = Ancestor<4>::Of(this);
  if (enhancedNode == nullptr) return;
  QZRef<DW_ROIGrayscaleImageEnhanced> enhanced = enhancedNode->GetData(key, true, true);
  if (!enhanced) return;
  PN_ROIGrayscaleImagePerspectiveCorrected* perspectiveNode = enhancedNode->GetPreviousNode();
  if (perspectiveNode == nullptr) return;
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> perspective = perspectiveNode->GetData(key, true, true);
  if (!perspective) return;
  wrap->SetROIGrayscaleImageEnhancedDataUnit(enhanced.get());
  wrap->SetROIGrayscaleImagePerspectiveCorrectedDataUnit(perspective.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

PN_ROIBinaryImageForTextFiltering::PN_ROIBinaryImageForTextFiltering(QZParameterTree* tree,
                                                                     PN_ROIGrayscaleImageForStructurizing* parent,
                                                                     const QZVP_BinarizationModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIBinaryImageForTextFiltering::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_ROIBinaryImageForTextFiltering::SetRequiredData(const std::string& key, DW_Base* data) {
  auto* wrap = static_cast<DW_ROIBinaryImageForTextFiltering*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  PN_ROITextureDetectionResult* textureNode = Ancestor<2>::Of(this);
  if (textureNode == nullptr) return;
  QZRef<DW_TextureDetectionResult> texture = textureNode->GetData(key, true, true);
  if (!texture) return;
  PN_ROIBinaryImage* binaryNode = textureNode->GetPreviousNode();
  if (binaryNode == nullptr) return;
  QZRef<DW_ROIBinaryImage> binary = binaryNode->GetData(key, true, true);
  if (!binary) return;
  wrap->SetTextureDetectionResultDataUnit(texture.get());
  wrap->SetROIBinaryImageDataUnit(binary.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

PN_ROIBinaryImageForStructurizing::PN_ROIBinaryImageForStructurizing(QZParameterTree* tree,
                                                                     PN_ROIBinaryImageForTextFiltering* parent,
                                                                     const std::vector<QZVP_TextFilterModeStruct>& modes)
    : QZDelayObj(tree, parent), m_modes(modes) {
  SetStage(tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING);
  m_singleModeHash = NodeListHash(modes, m_modes);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_ROIBinaryImageForStructurizing::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_modes);
}

PN_Contours::PN_Contours(QZParameterTree* tree, PN_ROIBinaryImageForStructurizing* parent) : QZDelayObj(tree, parent) {
  SetStage(tav::DUST_CONTOURS);
  m_singleModeHash = FixedKeyHash<hashkeys::kContoursSingleMode>();
  CommonFillAllHashId();
  if (!m_globalHash.empty()) {
    m_layerHash = FixedKeyHash<hashkeys::kContoursLayer>();
    m_referenceHash = m_globalHash;
  }
}

QZRef<DW_Base> PN_Contours::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this);
}

PN_LineSegments::PN_LineSegments(QZParameterTree* tree, PN_Contours* parent, const QZVP_LineExtractionModeStruct& mode)
    : QZDelayObj(tree, parent), m_mode(mode) {
  SetStage(tav::DUST_LINE_SEGMENTS);
  m_singleModeHash = NodeModeHash(mode, m_mode);
  CommonFillAllHashId();
}

QZRef<DW_Base> PN_LineSegments::CalcData(const std::string&, DW_Base*) {
  return NewWrap(this, &m_mode);
}

void PN_LineSegments::SetRequiredData(const std::string& key, DW_Base* data) {
  auto* wrap = static_cast<DW_LineSegments*>(data);
  if (wrap->IsRequiredDataAvailable()) return;
  PN_ROIGrayscaleImagePerspectiveCorrected* perspectiveNode = Ancestor<9>::Of(this);
  if (perspectiveNode == nullptr) return;
  QZRef<DW_ROIGrayscaleImagePerspectiveCorrected> perspective = perspectiveNode->GetData(key, true, true);
  if (!perspective) return;
  wrap->SetROIGrayscaleImagePerspectiveCorrectedDataUnit(perspective.get());
  wrap->SetRequiredDataAvailableFlag(true);
}

}  // namespace orvex
