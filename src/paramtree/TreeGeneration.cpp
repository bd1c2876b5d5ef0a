// Whole-image and region tree generation.
#include "paramtree/TreeGeneration.h"

#include <orvex/paramtree/StageNodes.h>

#include "paramtree/GeneratedModeHashes.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvex {

thread_local GeneratedModeHashes* GeneratedModeHashes::t_current = nullptr;

const std::string* FindGeneratedModeHash(const void* recordOrList) { return GeneratedModeHashes::Find(recordOrList); }

namespace {

using stages::Generation;

// Builds a node below `parent` and offers it to the tree, which links it to `parent` when
// it accepts it. A refused node is dropped; the result is then null.
template <class Node, class... Args>
Node* AddNode(QZParameterTree* tree, typename Node::ParentType* parent, const Args&... args) {
  Node* node = new Node(tree, parent, args...);
  QZRef<ParameterNodeBase> held(node);
  if (!tree->PushBackNode(node->GetGlobalHash(), std::move(held))) return nullptr;
  return node;
}

using BinarizationGroups = std::vector<std::vector<QZVP_BinarizationModeStruct>>;

// What one generation reads: the mode lists by record type, and on its way down one path
// of the tree, the record each branching stage of the path took and the binarization
// relation the path runs through.
struct Generating {
  using Lists = std::tuple<const std::vector<QZVP_ColourConversionModeStruct>*,
                           const std::vector<QZVP_GrayscaleTransformationModeStruct>*,
                           const std::vector<QZVP_RegionPredetectionModeStruct>*,
                           const std::vector<QZVP_GrayscaleEnhancementModeStruct>*,
                           const BinarizationGroups*,
                           const std::vector<QZVP_TextureDetectionModeStruct>*,
                           const std::vector<QZVP_TextFilterModeStruct>*,
                           const std::vector<QZVP_LineExtractionModeStruct>*>;
  using Branched = std::tuple<const QZVP_ColourConversionModeStruct*, const QZVP_GrayscaleTransformationModeStruct*,
                              const QZVP_RegionPredetectionModeStruct*, const QZVP_GrayscaleEnhancementModeStruct*,
                              const QZVP_BinarizationModeStruct*, const QZVP_LineExtractionModeStruct*>;

  explicit Generating(QZParameterTree* treeToGrow) : tree(treeToGrow) {}

  QZParameterTree* tree;
  int scalingDownParameter = 0;
  std::string regionNodeId;
  Lists lists{};
  Branched branched{};
  ParamNodeRelation* relation = nullptr;

  template <class List>
  const List& ListOf() const {
    static const List kEmpty;
    const List* list = std::get<const List*>(lists);
    return list != nullptr ? *list : kEmpty;
  }
};

template <int N, int Last>
void GrowStage(Generating& generating, stages::NodeOf<StageRow<N>::kParent>* parent);

// Lists a new node where its row says, then grows the stages below it down to `Last`.
template <int N, int Last>
void GrowBelow(Generating& generating, stages::NodeOf<N>* node) {
  if constexpr (StageRow<N>::kListedByTree) generating.tree->GetNodesFromMap(static_cast<tav::DataUnitStageType>(N)).push_back(node);
  if constexpr (N == stages::kLastStage) {
    if (generating.relation != nullptr) generating.relation->GetChildNodes(N).push_back(node);
  }
  if constexpr (N < Last) GrowStage<stages::ChildStageOf(N), Last>(generating, node);
}

// One node of stage N below `parent` for each record of `records` that is not a skip,
// each grown below; `grown` runs for every accepted node.
template <int N, int Last, class Record, class Grown>
void GrowPerRecord(Generating& generating, stages::NodeOf<StageRow<N>::kParent>* parent,
                   const std::vector<Record>& records, const Grown& grown) {
  for (const Record& record : records) {
    if (record.mode == StageRow<N>::kSkippedMode) continue;
    auto* node = AddNode<stages::NodeOf<N>>(generating.tree, parent, record);
    if (node == nullptr) continue;
    std::get<const Record*>(generating.branched) = &record;
    grown(node);
  }
}

// Makes the nodes of stage N below `parent` as the stage's row says, and below each the
// stages that follow it, down to stage `Last`. Nodes equal to an earlier sibling are
// refused by the tree, with everything below them.
template <int N, int Last>
void GrowStage(Generating& generating, stages::NodeOf<StageRow<N>::kParent>* parent) {
  using Row = StageRow<N>;
  using Parameters = typename Row::Parameters;
  using Node = stages::NodeOf<N>;
  const auto growBelow = [&](Node* node) { GrowBelow<N, Last>(generating, node); };
  if constexpr (Row::kGeneration == Generation::kOnePerRecord) {
    GrowPerRecord<N, Last>(generating, parent, generating.ListOf<std::vector<Parameters>>(), growBelow);
  } else if constexpr (Row::kGeneration == Generation::kOnePerRecordOfEachGroup) {
    for (const std::vector<Parameters>& group : generating.ListOf<BinarizationGroups>()) {
      std::vector<QZRef<ParamNodeRelation>> relations;
      GrowPerRecord<N, Last>(generating, parent, group, [&](Node* node) {
        QZRef<ParamNodeRelation> relation(new ParamNodeRelation(node));
        relations.push_back(relation);
        generating.relation = relation.get();
        growBelow(node);
        generating.relation = nullptr;
      });
      if (!relations.empty()) generating.tree->GetBinNodeGroupsOfRegion(generating.regionNodeId).emplace_back(relations);
    }
  } else {
    Node* node = nullptr;
    if constexpr (Row::kGeneration == Generation::kBranchedRecord) {
      const Parameters* record = std::get<const Parameters*>(generating.branched);
      if (record == nullptr) return;
      node = AddNode<Node>(generating.tree, parent, *record);
    } else if constexpr (std::is_same<Parameters, stages::NoParameters>::value) {
      node = AddNode<Node>(generating.tree, parent);
    } else if constexpr (std::is_same<Parameters, int>::value) {
      node = AddNode<Node>(generating.tree, parent, generating.scalingDownParameter);
    } else {
      node = AddNode<Node>(generating.tree, parent, generating.ListOf<Parameters>());
    }
    if (node != nullptr) growBelow(node);
  }
}

// Builds the whole-image part into the empty tree `result`: the source node, then the
// stages below it down to the candidate regions.
QZRef<QZParameterTree> GrowWholeImagePart(
    QZRef<QZParameterTree> result, int scalingDownParameter,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  QZParameterTree* tree = result.get();
  QZRef<PN_SourceImage> source(new PN_SourceImage(tree));
  if (!tree->PushBackNode(source->GetGlobalHash(), source)) return result;
  tree->SetRootNode(source.get());
  Generating generating{tree};
  generating.scalingDownParameter = scalingDownParameter;
  std::get<const std::vector<QZVP_ColourConversionModeStruct>*>(generating.lists) = &colourConversionModes;
  std::get<const std::vector<QZVP_GrayscaleTransformationModeStruct>*>(generating.lists) = &grayscaleTransformationModes;
  std::get<const std::vector<QZVP_RegionPredetectionModeStruct>*>(generating.lists) = &regionPredetectionModes;
  GrowBelow<stages::kFirstStage, tav::DUST_CANDIDATE_ROIS>(generating, source.get());
  return result;
}

}  // namespace

QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    int scalingDownParameter, const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  return GrowWholeImagePart(QZRef<QZParameterTree>(new QZParameterTree(tav::DUST_CANDIDATE_ROIS)), scalingDownParameter,
                            colourConversionModes, grayscaleTransformationModes, regionPredetectionModes);
}

QZRef<QZParameterTree> GenerateWholeImageParamTreeByModes(
    DataUnitManager* table, int scalingDownParameter,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_RegionPredetectionModeStruct>& regionPredetectionModes) {
  return GrowWholeImagePart(QZRef<QZParameterTree>(new QZParameterTree(tav::DUST_CANDIDATE_ROIS, table)),
                            scalingDownParameter, colourConversionModes, grayscaleTransformationModes,
                            regionPredetectionModes);
}

namespace {

// How many records of a list give nodes (duplicates included: an upper bound).
template <class Record>
long UsableCount(const std::vector<Record>& records, int64_t skippedMode) {
  long usable = 0;
  for (const Record& record : records) usable += record.mode != skippedMode ? 1 : 0;
  return usable;
}

// How many children each node of stage N's parent stage has at most in stage N.
template <int N>
long BranchFactor(const Generating& generating) {
  using Row = StageRow<N>;
  using Parameters = typename Row::Parameters;
  if constexpr (Row::kGeneration == Generation::kOnePerRecord) {
    return UsableCount(generating.ListOf<std::vector<Parameters>>(), Row::kSkippedMode);
  } else if constexpr (Row::kGeneration == Generation::kOnePerRecordOfEachGroup) {
    long usable = 0;
    for (const auto& group : generating.ListOf<BinarizationGroups>()) usable += UsableCount(group, Row::kSkippedMode);
    return usable;
  } else {
    return 1;
  }
}

// Makes room for the nodes of the region part at once, in the tree and in the stage lists
// it keeps, so that large region parts do not grow them a few slots at a time. The product
// of the branch factors down to a stage bounds its nodes per region.
template <int... Stages>
void ReserveRegionPart(const Generating& generating, std::integer_sequence<int, Stages...>) {
  constexpr long kMostNodes = 1L << 26;
  const long factors[] = {BranchFactor<Stages>(generating)...};
  constexpr bool listed[] = {StageRow<Stages>::kListedByTree...};
  constexpr int stages[] = {Stages...};
  long perNode = 1, nodes = 0;
  for (size_t i = 0; i < sizeof...(Stages); ++i) {
    perNode = std::min(perNode * factors[i], kMostNodes);
    nodes = std::min(nodes + perNode, kMostNodes);
    if (!listed[i] || perNode <= 0) continue;
    ParamNodeArray& list = generating.tree->GetNodesFromMap(static_cast<tav::DataUnitStageType>(stages[i]));
    const long wanted = list.GetCount() + perNode;
    if (wanted <= INT32_MAX) list.Reserve(static_cast<int>(wanted));
  }
  if (nodes > 0 && nodes < kMostNodes) generating.tree->ReserveNodes(static_cast<size_t>(nodes));
}

template <int First, int... Offsets>
constexpr auto StagesFrom(std::integer_sequence<int, Offsets...>) {
  return std::integer_sequence<int, (First + Offsets)...>{};
}

}  // namespace

void GenerateRegionImageParamTreeByModes(
    QZParameterTree* tree, ParameterNodeBase* regionNode,
    const std::vector<QZVP_ColourConversionModeStruct>& colourConversionModes,
    const std::vector<QZVP_GrayscaleTransformationModeStruct>& grayscaleTransformationModes,
    const std::vector<QZVP_GrayscaleEnhancementModeStruct>& grayscaleEnhancementModes,
    const std::vector<std::vector<QZVP_BinarizationModeStruct>>& binarizationGroups,
    const std::vector<QZVP_TextureDetectionModeStruct>& textureDetectionModes,
    const std::vector<QZVP_TextFilterModeStruct>& textFilterModes,
    const std::vector<QZVP_LineExtractionModeStruct>& lineExtractionModes) {
  auto* candidates = dynamic_cast<PN_CandidateROIs*>(regionNode);
  // A finished tree is read by other threads: it is never changed, not even its end type.
  if (tree == nullptr || tree->IsFinished() || candidates == nullptr || candidates->GetTree() != tree) return;
  Generating generating{tree};
  generating.regionNodeId = candidates->GetGlobalHash();
  if (generating.regionNodeId.empty()) return;
  tree->SetEndNodeType(tav::DUST_LINE_SEGMENTS);

  // Copies of the lists whose records are hashed once from their texts, so that the many
  // nodes made from one record do not each render and hash it again.
  GeneratedModeHashes hashed;
  std::vector<QZVP_GrayscaleEnhancementModeStruct> enhancements = grayscaleEnhancementModes;
  hashed.HashAndList(enhancements);
  BinarizationGroups binarizations = binarizationGroups;
  for (auto& group : binarizations) hashed.HashAndList(group);
  std::vector<QZVP_TextureDetectionModeStruct> textures = textureDetectionModes;
  hashed.HashAndList(textures);
  std::vector<QZVP_TextFilterModeStruct> textFilters = textFilterModes;
  hashed.HashAndList(textFilters);
  std::vector<QZVP_LineExtractionModeStruct> lines = lineExtractionModes;
  hashed.HashAndList(lines);
  generating.lists = Generating::Lists{&colourConversionModes, &grayscaleTransformationModes, nullptr, &enhancements,
                                       &binarizations,        &textures,                     &textFilters, &lines};

  constexpr int kRegionStage = stages::ChildStageOf(tav::DUST_CANDIDATE_ROIS);
  ReserveRegionPart(generating, StagesFrom<kRegionStage>(std::make_integer_sequence<int, stages::kLastStage - kRegionStage + 1>{}));
  GrowStage<kRegionStage, stages::kLastStage>(generating, candidates);
}

}  // namespace orvex
