// The data wrap of a stage, as its row in the stage table describes it.
//
// DW_Stage<N> is the base of the wrap class of stage N, which the stage table names
// (DW_ROIBinaryImage and so on, classes of their own deriving from it): it keeps its own copy of its node's parameters, makes its processing stage on its
// parent's (or takes its parent's, for the stages that select their parent's result),
// hands it the extra inputs the node attached, and lets go of those once the stage has
// them. Ownership and threads as for every wrap (DW_Base.h, DW_Templates.h).
#ifndef ORVEX_DATAWRAP_STAGEWRAPS_H
#define ORVEX_DATAWRAP_STAGEWRAPS_H

#include <orvex/datawrap/DW_Templates.h>
#include <orvex/datawrap/detail/TimedStep.h>
#include <orvex/stages/StageTable.h>

#include <cstddef>
#include <orvex/foundation/Mutex.h>
#include <tuple>
#include <type_traits>
#include <utility>

namespace orvex {
namespace wraps {

// What a wrap's constructor takes for its node's parameters, how it keeps them and how it
// hands them to its processing stage: a record or list by pointer, an integer by value.
template <class Parameters>
struct ParameterArgument {
  using Type = const Parameters*;
  static Parameters Copy(const Parameters* given) { return CopyOfRecord(given); }
  static const Parameters* ForStage(const Parameters& kept) { return &kept; }
};
template <>
struct ParameterArgument<int> {
  using Type = int;
  static int Copy(int given) { return given; }
  static int ForStage(int kept) { return kept; }
};

// The counted fields that hold a stage's extra inputs until its processing stage has them.
template <class List>
struct InputFields;
template <class... Inputs>
struct InputFields<stages::ExtraInputs<Inputs...>> {
  using Type = std::tuple<QZRef<stages::WrapOf<Inputs::kStage>>...>;
  using List = std::tuple<Inputs...>;
};

// The place of stage `Input` among a stage's extra inputs.
template <int Input, class... Inputs>
constexpr std::size_t IndexOfInput(stages::ExtraInputs<Inputs...>) {
  constexpr bool matches[] = {(Inputs::kStage == Input)..., false};
  std::size_t i = 0;
  while (!matches[i]) ++i;
  return i;
}

// The extra input's processing stage, or null when it is not attached.
template <class Wrap>
auto StageOf(const QZRef<Wrap>& wrap) -> decltype(wrap->GetData(false)) {
  return wrap ? wrap->GetData(false) : nullptr;
}

// Hands an extra input's processing stage to the new stage as its linked stage `Link`.
template <stages::LinkedStage Link, class Stage, class Wrap>
void LinkInput(Stage& stage, const QZRef<Wrap>& input) {
  if constexpr (Link == stages::kLinkedStage1) {
    stage.linkedStage1.reset(StageOf(input));
  } else {
    stage.linkedStage2.reset(StageOf(input));
  }
}

}  // namespace wraps

template <int N>
class ORVEX_EXPORT DW_Stage
    : public std::conditional_t<StageRow<N>::kImage,
                                DW_ImageTemplate<typename StageRow<N>::Processing, stages::WrapOf<StageRow<N>::kParent>>,
                                DW_BaseTemplate<typename StageRow<N>::Processing, stages::WrapOf<StageRow<N>::kParent>>> {
  using Row = StageRow<N>;
  using Processing = typename Row::Processing;
  using Parameters = typename Row::Parameters;
  using ParentWrap = stages::WrapOf<Row::kParent>;
  using Argument = wraps::ParameterArgument<Parameters>;
  using Inputs = wraps::InputFields<typename Row::Inputs>;
  static constexpr std::size_t kInputCount = std::tuple_size<typename Inputs::List>::value;
  static constexpr bool kHasParameters = !std::is_same<Parameters, stages::NoParameters>::value;

 public:
  using Base = std::conditional_t<Row::kImage, DW_ImageTemplate<Processing, ParentWrap>,
                                  DW_BaseTemplate<Processing, ParentWrap>>;
  // The extra inputs, counted, in the order of the stage's row.
  using InputTuple = typename Inputs::Type;

  // A wrap of a stage without parameters, linked to `parent` (which may be null).
  template <bool P = kHasParameters, std::enable_if_t<!P, int> = 0>
  explicit DW_Stage(ParentWrap* parent) : Base(parent) {
    Describe();
  }
  // A wrap without parent (and, for a stage with parameters, with default ones): a null
  // argument names no wrap to copy (the copy constructor below would otherwise take it).
  template <bool P = kHasParameters, std::enable_if_t<!P, int> = 0>
  explicit DW_Stage(std::nullptr_t) : DW_Stage(static_cast<ParentWrap*>(nullptr)) {}
  template <bool P = kHasParameters, std::enable_if_t<P, int> = 0>
  explicit DW_Stage(std::nullptr_t) : DW_Stage(static_cast<ParentWrap*>(nullptr), typename Argument::Type{}) {}
  // A wrap linked to `parent` (which may be null) with its own copy of the parameters.
  template <bool P = kHasParameters, std::enable_if_t<P, int> = 0>
  DW_Stage(ParentWrap* parent, typename Argument::Type parameters)
      : Base(parent), modeRecord(Argument::Copy(parameters)) {
    Describe();
  }
  // A distinct copy of `other`: its parameters and the extra inputs it still holds, a new
  // hash id, no result.
  explicit DW_Stage(const DW_Stage* other) : modeRecord(other->modeRecord) {
    this->Clone(other);
    MutexLock lock(other->dataMutex);
    m_inputs = other->m_inputs;
  }

  // Attaches the extra inputs together, unless the processing stage exists already: the
  // node does it when it hands the wrap out.
  void SetExtraInputs(const InputTuple& inputs) {
    MutexLock lock(this->dataMutex);
    AttachInputs(inputs, kEveryInput);
  }
  template <int Input>
  void SetExtraInput(stages::WrapOf<Input>* input) {
    MutexLock lock(this->dataMutex);
    this->AttachExtraInput(std::get<wraps::IndexOfInput<Input>(typename Row::Inputs{})>(m_inputs), input);
  }

  // The same, one input at a time, by the name of the stage it comes from; each exists on
  // the stages whose row lists that input.
  template <int I = tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN, std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetColourImageAfterScalingDownDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }
  template <int I = tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED, std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetGrayscaleImageTransformedDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }
  template <int I = tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED, std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetROIGrayscaleImageEnhancedDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }
  template <int I = tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED,
            std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetROIGrayscaleImagePerspectiveCorrectedDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }
  template <int I = tav::DUST_ROI_TEXTURE_DETECTION_RESULT, std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetTextureDetectionResultDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }
  template <int I = tav::DUST_ROI_BINARY_IMAGE, std::enable_if_t<stages::kTakesInput<N, I>, int> = 0>
  void SetROIBinaryImageDataUnit(stages::WrapOf<I>* input) {
    SetExtraInput<I>(input);
  }

  int StoredCodeVersion() const override { return stages::StoredCodeVersionOf<Row>(); }

  int64_t GetComputeNanoseconds() const override {
    if constexpr (Row::kSharesParentStage) {
      return 0;  // the parent's stage object did the work
    } else {
      return Base::GetComputeNanoseconds();
    }
  }

  bool IsLoadedFromStore() const override {
    if constexpr (Row::kSharesParentStage) {
      return false;
    } else {
      return Base::IsLoadedFromStore();
    }
  }

 protected:
  // Called with the new processing stage once its linked stages are set, before it runs.
  virtual void StageLinked(Processing&) ORVEX_REQUIRES(this->dataMutex) {}

 private:
  void Describe() {
    this->SetStageType(static_cast<tav::DataUnitStageType>(N));
    this->SetMediaType(Row::kImage ? tav::DUMT_IMAGE : tav::DUMT_NONE);
  }

  static constexpr auto kEveryInput = std::make_index_sequence<kInputCount>{};
  template <std::size_t I>
  using InputAt = std::tuple_element_t<I, typename Inputs::List>;

  void CreateData(bool generate) ORVEX_REQUIRES(this->dataMutex) override {
    TimedStep step(Row::kTimingLabel);
    if constexpr (Row::kSharesParentStage) {
      this->InstallStage(this->ParentStage(), generate);
    } else {
      QZRef<Processing> stage = NewStage();
      if (!stage) return;
      LinkInputs(*stage, kEveryInput);
      StageLinked(*stage);
      this->InstallStage(stage, generate);
    }
  }

  void LetGoOfExtraInputs() ORVEX_REQUIRES(this->dataMutex) override { LetGoOfInputs(kEveryInput); }

  QZRef<Processing> NewStage() const {
    if constexpr (kHasParameters) {
      return this->NewStageOnParent(Argument::ForStage(modeRecord));
    } else {
      return this->NewStageOnParent();
    }
  }

  bool ExtraInputsReady() const ORVEX_REQUIRES(this->dataMutex) override {
    if constexpr (Row::kWaitsForInputs) {
      return this->RequiredDataAvailableLocked() || InputsAttached(kEveryInput);
    } else {
      return true;
    }
  }

  void PrepareRequiredData() override {
    Base::PrepareRequiredData();
    ReadyInputs(kEveryInput);
  }

  void EnsureInputStages() ORVEX_REQUIRES(this->dataMutex) override {
    Base::EnsureInputStages();
    EnsureInputs(kEveryInput);
  }
  template <std::size_t... I>
  void EnsureInputs(std::index_sequence<I...>) ORVEX_REQUIRES(this->dataMutex) {
    ((std::get<I>(m_inputs) ? (std::get<I>(m_inputs)->EnsureStage(), 0) : 0), ...);
  }

  // The operations on every extra input, in the order of the row.
  template <std::size_t... I>
  void AttachInputs(const InputTuple& inputs, std::index_sequence<I...>) ORVEX_REQUIRES(this->dataMutex) {
    (this->AttachExtraInput(std::get<I>(m_inputs), std::get<I>(inputs).get()), ...);
  }
  template <std::size_t... I>
  void LinkInputs(Processing& stage, std::index_sequence<I...>) ORVEX_REQUIRES(this->dataMutex) {
    (wraps::LinkInput<InputAt<I>::kLink>(stage, std::get<I>(m_inputs)), ...);
  }
  template <std::size_t... I>
  void LetGoOfInputs(std::index_sequence<I...>) ORVEX_REQUIRES(this->dataMutex) {
    (this->LetGoOfExtraInput(std::get<I>(m_inputs)), ...);
  }
  template <std::size_t... I>
  bool InputsAttached(std::index_sequence<I...>) const ORVEX_REQUIRES(this->dataMutex) {
    return (static_cast<bool>(std::get<I>(m_inputs)) && ...);
  }
  // Generates each attached input, reading it under dataMutex and generating without it.
  template <std::size_t... I>
  void ReadyInputs(std::index_sequence<I...>) {
    (ReadyInput<I>(), ...);
  }
  template <std::size_t I>
  void ReadyInput() {
    std::tuple_element_t<I, InputTuple> input;
    {
      MutexLock lock(this->dataMutex);
      input = std::get<I>(m_inputs);
    }
    if (input) input->GetData(true);
  }

  Parameters modeRecord;
  InputTuple m_inputs ORVEX_GUARDED_BY(this->dataMutex);
};

}  // namespace orvex

#endif
