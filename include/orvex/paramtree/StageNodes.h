// The parameter nodes of the 23 stages.
//
// PN_Stage<N> is the base of the node class of stage N, which the stage table names
// (PN_ROIBinaryImage and so on, classes of their own deriving from it): it keeps its own copy of its parameters, forms its identity from them at
// construction, makes its lazy result on top of its parent's (CalcData) and fetches the
// extra inputs its wrap needs from its ancestors (SetRequiredData), all as the stage's
// row says. The source node and the region colour image node take their results from the
// host (AddData) and have classes of their own, below. Construction records the parent;
// the tree generation offers the node to the tree, which links it below the parent.
#ifndef ORVEX_PARAMTREE_STAGENODES_H
#define ORVEX_PARAMTREE_STAGENODES_H

#include <orvex/datawrap/RegionWraps.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/detail/NodeParameters.h>
#include <orvex/paramtree/QZDelayObj.h>

#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orvex {
namespace nodes {

// The hashes of a stage's key texts, each computed once per process.
template <int N>
const std::string& ModeKeyHash() {
  static_assert(StageRow<N>::kModeKey != nullptr, "a stage without parameters hashes its key text");
  static const std::string hash = HashOfKeyText(StageRow<N>::kModeKey);
  return hash;
}
template <int N>
const std::string& AnchorKeyHash() {
  static const std::string hash = HashOfKeyText(StageRow<N>::kAnchorKey);
  return hash;
}

// The ancestor `Distance` parent links up, typed by the chain of parent classes; null
// when the chain ends before.
template <int Distance>
struct Ancestor {
  template <class Node>
  static auto Of(Node* node) {
    return Ancestor<Distance - 1>::Of(node != nullptr ? node->GetPreviousNode() : nullptr);
  }
};
template <>
struct Ancestor<0> {
  template <class Node>
  static Node* Of(Node* node) {
    return node;
  }
};

}  // namespace nodes

template <int N>
class ORVEX_EXPORT PN_Stage : public QZDelayObj<stages::WrapOf<N>, stages::NodeOf<StageRow<N>::kParent>> {
  using Row = StageRow<N>;
  using Wrap = stages::WrapOf<N>;
  using Parameters = typename Row::Parameters;
  using ParentNode = stages::NodeOf<Row::kParent>;
  using Base = QZDelayObj<Wrap, ParentNode>;
  static constexpr bool kHasParameters = !std::is_same<Parameters, stages::NoParameters>::value;
  using Argument = std::conditional_t<std::is_same<Parameters, int>::value, int, const Parameters&>;

 public:
  // A node of a stage without parameters below `parent`.
  template <bool P = kHasParameters, std::enable_if_t<!P, int> = 0>
  PN_Stage(QZParameterTree* tree, ParentNode* parent) : Base(tree, parent) {
    FormIdentity(nodes::ModeKeyHash<N>());
  }
  // A node below `parent` with its own copy of the parameters.
  template <bool P = kHasParameters, std::enable_if_t<P, int> = 0>
  PN_Stage(QZParameterTree* tree, ParentNode* parent, Argument parameters) : Base(tree, parent), m_mode(parameters) {
    FormIdentity(OwnParameterHash(Row::kModeKey, parameters, m_mode));
  }

  std::string GetParameterText() const override {
    if constexpr (kHasParameters) {
      return OwnParameterText(Row::kModeKey, m_mode);
    } else {
      return Row::kModeKey;
    }
  }

 private:
  // The stage number, the own-parameter hash and the ids chained from the parent's; an
  // anchor then restarts the layer chain of the nodes below it.
  void FormIdentity(const std::string& singleModeHash) {
    this->SetStage(static_cast<tav::DataUnitStageType>(N));
    this->m_singleModeHash = singleModeHash;
    this->CommonFillAllHashId();
    if constexpr (Row::kAnchorKey != nullptr) {
      if (!this->m_globalHash.empty()) {
        this->m_layerHash = nodes::AnchorKeyHash<N>();
        this->m_referenceHash = this->m_globalHash;
      }
    }
  }

  bool ComputesResults() const override { return !Row::kAddedByHost; }

 protected:
  QZRef<DW_Base> CalcData(const std::string&) override {
    if constexpr (Row::kAddedByHost) {
      return QZRef<DW_Base>();
    } else {
      // Unlinked, so that nobody who finds it in the parent's child list sees its id change.
      using ParentWrap = stages::WrapOf<Row::kParent>;
      if constexpr (kHasParameters) {
        return QZRef<DW_Base>(new Wrap(static_cast<ParentWrap*>(nullptr), wraps::ParameterArgument<Parameters>::ForStage(m_mode)));
      } else {
        return QZRef<DW_Base>(new Wrap(static_cast<ParentWrap*>(nullptr)));
      }
    }
  }

  // Fetches the extra inputs from the ancestors of their stages, for the same key (for the
  // wrap's source image when a region stage reads a whole-image result), and attaches them
  // together; nothing while an ancestor has no result, so the next fetch tries again.
  void SetRequiredData(const std::string& key, DW_Base* data) override {
    if constexpr (Row::Inputs::kCount > 0) {
      auto* wrap = static_cast<Wrap*>(data);
      if (wrap->IsRequiredDataAvailable()) return;
      typename Wrap::InputTuple inputs;
      if (!FetchInputs(key, *wrap, inputs, std::make_index_sequence<Row::Inputs::kCount>{})) return;
      wrap->SetExtraInputs(inputs);
      wrap->SetRequiredDataAvailableFlag(true);
    }
  }

 private:
  template <class Inputs, std::size_t... I>
  bool FetchInputs(const std::string& key, const Wrap& wrap, Inputs& inputs, std::index_sequence<I...>) {
    std::string sourceKey;
    return (FetchInput<I>(key, wrap, sourceKey, inputs) && ...);
  }

  template <std::size_t I, class Inputs>
  bool FetchInput(const std::string& key, const Wrap& wrap, std::string& sourceKey, Inputs& inputs) {
    constexpr int kInput = std::tuple_element_t<I, typename wraps::InputFields<typename Row::Inputs>::List>::kStage;
    auto* node = nodes::Ancestor<stages::DistanceUp<N, kInput>()>::Of(this);
    if (node == nullptr) return false;
    // Whole-image nodes hold their results under the source image's id.
    const bool bySource = stages::IsRegionStage(N) && !stages::IsRegionStage(kInput);
    if (bySource && sourceKey.empty()) sourceKey = wrap.GetSourceHashID();
    std::get<I>(inputs) = node->GetData(bySource ? sourceKey : key, true, true);
    return static_cast<bool>(std::get<I>(inputs));
  }

  Parameters m_mode;
};

// The nodes the stage table derives entirely from their rows, each a class of its own so
// that hosts can declare it ahead.
class ORVEX_EXPORT PN_ColourImageAfterSizeFitting : public PN_Stage<tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ColourImageAfterScalingDown : public PN_Stage<tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ColourImageForROI : public PN_Stage<tav::DUST_COLOUR_IMAGE_FOR_ROI> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_GrayscaleImageColourConverted : public PN_Stage<tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_GrayscaleImageTransformed : public PN_Stage<tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_GrayscaleImageForROI : public PN_Stage<tav::DUST_GRAYSCALE_IMAGE_FOR_ROI> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_CandidateROIs : public PN_Stage<tav::DUST_CANDIDATE_ROIS> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImageColourConverted : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImageTransformed : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImage : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImageRotated : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImagePerspectiveCorrected : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImageEnhanced : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGaryImageProcessed : public PN_Stage<tav::DUST_ROI_GRAY_IMAGE_PROCESSED> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIBinaryImage : public PN_Stage<tav::DUST_ROI_BINARY_IMAGE> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROITextureDetectionResult : public PN_Stage<tav::DUST_ROI_TEXTURE_DETECTION_RESULT> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIGrayscaleImageForStructurizing : public PN_Stage<tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIBinaryImageForTextFiltering : public PN_Stage<tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_ROIBinaryImageForStructurizing : public PN_Stage<tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_Contours : public PN_Stage<tav::DUST_CONTOURS> { public: using PN_Stage::PN_Stage; };
class ORVEX_EXPORT PN_LineSegments : public PN_Stage<tav::DUST_LINE_SEGMENTS> { public: using PN_Stage::PN_Stage; };

class ORVEX_EXPORT PN_SourceImage : public QZDelayObj<DW_SourceImage, PN_NoneNode> {
 public:
  explicit PN_SourceImage(QZParameterTree* tree);
  // Adds (or finds) the result for the image and writes its hash id, with a NUL, into
  // `hashOut` (65 bytes). False for an empty image, one smaller than 8 x 8, one without
  // usable hash id, or one whose id is taken by different pixels. False too, with a log
  // message, when the image was added before (by any tree) with other size arguments:
  // the results made with those are not handed out as if made with these.
  bool AddData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut);
  // AddData for an image whose id SourceImageHashId gave already. A new result keeps a copy
  // of the pixels, since the caller may refill its matrix afterwards; when the caller
  // hands the matrix over (`handedOver`) and nothing else shares its pixels, the result
  // keeps the matrix itself.
  // `checked` is a result already compared with these pixels (null: none); on success it
  // is this node's result, so a caller adding one image to several trees compares once.
  bool AddHashedData(QZRef<QZMatrix>& image, const std::string& id, int sourceImageArg1, int sourceImageArg2,
                     bool handedOver = false, const DW_Base** checked = nullptr);
  // Adds (or finds) the result of an image known by its hash id, whose pixels `pixels`
  // gives when a result first needs them (see SourcePixels). False for an empty or
  // over-long id, no pixels, or an image added before with other size arguments.
  bool AddKnownImage(const std::string& id, QZRef<SourcePixels> pixels, int sourceImageArg1, int sourceImageArg2);

 private:
  // Whether this node or the table has a result under the image id.
  bool IsKnown(const std::string& id);
  bool ComputesResults() const override { return false; }
  // The result under `id`: this node's own (`*own`), else the table's, else the one `make`
  // builds and enters (`*created`).
  template <class Make>
  QZRef<DW_Base> OwnOrAdd(const std::string& id, const Make& make, bool* own, bool* created,
                          DataUnitManager::Leftovers& leftovers) ORVEX_REQUIRES(m_dataMutex);
  // Keeps a result OwnOrAdd found or made among the node's results and counts the request.
  void Keep(const std::string& id, const QZRef<DW_Base>& result, bool own, bool created) ORVEX_REQUIRES(m_dataMutex);
  // Whether a result found for the image was made with these size arguments: results made
  // with other size limits are not handed out as if made with these (logged).
  static bool MadeWithSizeArguments(const DW_Base& result, int sourceImageArg1, int sourceImageArg2);
};

class ORVEX_EXPORT PN_ROIColourImage : public PN_Stage<tav::DUST_ROI_COLOUR_IMAGE> {
 public:
  PN_ROIColourImage(QZParameterTree* tree, PN_CandidateROIs* parent) : PN_Stage(tree, parent) {}
  // Adds (or finds) the result for one region of a candidate-regions result and writes
  // its hash id, with a NUL, into `hashOut` (65 bytes). False for null regions or a
  // region without hash id.
  bool AddData(DW_CandidateROIs* regions, const QZ_Quad& quad, char* hashOut);
};

}  // namespace orvex

#endif
