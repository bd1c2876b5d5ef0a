// The words a row of the stage table is written in (see StageTable.h).
//
// A row, StageRow<N> for stage N, states everything particular to the stage: its name,
// its parent stage, its data wrap and parameter node classes, its processing-stage class,
// the parameters its node keeps, the results of other stages its processing stage reads
// (extra inputs), whether its result is an image, and the key texts of its identity. The
// generic wrap (DW_Stage<N>) and node (PN_Stage<N>) derive all their behaviour from it.
#ifndef ORVEX_STAGES_STAGEROW_H
#define ORVEX_STAGES_STAGEROW_H

#include <orvex/foundation/Export.h>
#include <orvex/tav/Enums.h>

#include <cstdint>
#include <type_traits>

namespace orvex {

template <int Stage>
struct StageRow;

// The generic data wrap and parameter node of a stage (datawrap/StageWraps.h,
// paramtree/StageNodes.h); most named wrap and node classes derive from these and add nothing.
template <int Stage>
class DW_Stage;
template <int Stage>
class PN_Stage;

namespace stages {

constexpr int kFirstStage = tav::DUST_SOURCE_IMAGE;
constexpr int kLastStage = tav::DUST_LINE_SEGMENTS;

// The parameters of a stage whose node keeps none.
struct NoParameters {};

// Which linked stage of the processing stage an extra input is handed to.
enum LinkedStage { kLinkedStage1 = 1, kLinkedStage2 = 2 };

// An extra input: the result of stage `Stage` for the same source image (and the same
// region), whose processing stage becomes the linked stage `Link`.
template <int Stage, LinkedStage Link>
struct ExtraInput {
  static constexpr int kStage = Stage;
  static constexpr LinkedStage kLink = Link;
};

// The extra inputs of a stage, in the order they are fetched and readied.
template <class... Inputs>
struct ExtraInputs {
  static constexpr int kCount = static_cast<int>(sizeof...(Inputs));
};

// How the tree generation makes a stage's nodes below each node of its parent stage.
enum class Generation {
  // One node, with the stage's parameters as a whole: none, the scaling-down value or a
  // whole mode list.
  kOne,
  // One node per record of the stage's mode list, passing over records of kSkippedMode.
  kOnePerRecord,
  // The same over every group of the expanded list; each group's nodes, with the line
  // segments below each, form one binarization group of the region.
  kOnePerRecordOfEachGroup,
  // One node, with the record of the stage's parameter type that an earlier stage of the
  // same path branched on.
  kBranchedRecord,
};

// The kSkippedMode of a stage that passes over no record.
constexpr int64_t kNoSkippedMode = INT64_MIN;

// The fields a row leaves out: an image result, no parameters, no extra inputs, its own
// processing stage, no timing record and no key texts.
struct RowDefaults {
  using Parameters = NoParameters;
  using Inputs = ExtraInputs<>;
  static constexpr bool kImage = true;
  // The wrap takes its parent's processing stage (it selects the parent's result).
  static constexpr bool kSharesParentStage = false;
  // The result is handed in by the host through the node's AddData, never computed.
  static constexpr bool kAddedByHost = false;
  // The wrap makes no processing stage before its extra inputs are attached.
  static constexpr bool kWaitsForInputs = false;
  // The text the node hashes for its own parameters (stages without a mode record; an
  // integer parameter is written after it in decimal).
  static constexpr const char* kModeKey = nullptr;
  // An anchor restarts the layer chain below it from the hash of this text.
  static constexpr const char* kAnchorKey = nullptr;
  // The label of the timed entry and exit records the wrap writes when it makes its
  // processing stage (the whole-image stages).
  static constexpr const char* kTimingLabel = nullptr;
  // The version of the stage's computation, kept with its stored results: raise it in
  // the row whenever the processing stage computes differently, and results stored by
  // the older code are never served again. Version 2 for every stage: version 1 could
  // store results computed on a missing input as "no result", and results computed on a
  // gray image another stage had written into.
  static constexpr int kCodeVersion = 2;
  // How the tree generation makes the stage's nodes, and the mode of the records it
  // passes over (kOnePerRecord and kOnePerRecordOfEachGroup).
  static constexpr Generation kGeneration = Generation::kOne;
  static constexpr int64_t kSkippedMode = kNoSkippedMode;
  // Whether the tree lists the stage's nodes by stage (QZParameterTree::GetNodesFromMap).
  static constexpr bool kListedByTree = false;
};

// The code version stored results of a stage carry; 0 for a stage whose results are not
// stored (handed in by the host, or its parent's result).
template <class RowOfStage>
constexpr int StoredCodeVersionOf() {
  return RowOfStage::kAddedByHost || RowOfStage::kSharesParentStage ? 0 : RowOfStage::kCodeVersion;
}

// A row's classes and the stage it follows; the row adds its name and what differs from
// the defaults.
template <class WrapClass, class NodeClass, class ProcessingClass, int ParentStage>
struct Row : RowDefaults {
  using Wrap = WrapClass;
  using Node = NodeClass;
  using Processing = ProcessingClass;
  static constexpr int kParent = ParentStage;
};

template <int Stage>
using WrapOf = typename StageRow<Stage>::Wrap;
template <int Stage>
using NodeOf = typename StageRow<Stage>::Node;
template <int Stage>
using ParametersOf = typename StageRow<Stage>::Parameters;

// Whether a stage works on one region rather than the whole image.
constexpr bool IsRegionStage(int stage) { return stage >= tav::DUST_ROI_COLOUR_IMAGE; }

// How many parent links lead from stage `From` up to its ancestor stage `To`.
template <int From, int To>
constexpr int DistanceUp() {
  static_assert(From >= To, "an extra input comes from an earlier stage");
  if constexpr (From == To) {
    return 0;
  } else {
    return 1 + DistanceUp<StageRow<From>::kParent, To>();
  }
}

// Whether stage `Stage` reads the result of stage `Input` as an extra input.
template <int Input, class List>
struct ListsInput;
template <int Input, class... Inputs>
struct ListsInput<Input, ExtraInputs<Inputs...>> : std::bool_constant<((Inputs::kStage == Input) || ...)> {};
template <int Stage, int Input>
constexpr bool kTakesInput = ListsInput<Input, typename StageRow<Stage>::Inputs>::value;

// The name of a stage as reports show it ("colour image after scaling down"); empty
// for numbers outside 1 to 23.
ORVEX_EXPORT const char* GetStageName(int stage);

}  // namespace stages
}  // namespace orvex

#endif
