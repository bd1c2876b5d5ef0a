// The stage templates: a wrap's result is a processing-stage object, created once and
// run once, after the parent's result and the extra inputs are ready.
//
// A wrap holds its dataMutex while it creates and runs its stage object, taking its
// parent's and extra inputs' locks briefly inside (lock order: OrvexStagecacheHost.h). No
// wrap lock is held while an ancestor generates (PrepareRequiredData runs first, unlocked).
#ifndef ORVEX_DATAWRAP_DW_TEMPLATES_H
#define ORVEX_DATAWRAP_DW_TEMPLATES_H

#include <orvex/datawrap/DW_Base.h>
#include <orvex/foundation/NoThrow.h>
#include <orvex/improc/DP_Template.h>

#include <type_traits>
#include <utility>
#include <vector>

namespace orvex {

template <class DP, class Parent>
class DW_BaseTemplate : public DW_Base {
 public:
  typedef DP StageType;
  typedef Parent ParentType;

  // Links the new wrap to `parent` (which may be null) as its newest child.
  explicit DW_BaseTemplate(Parent* parent) : DW_Base(parent) { LinkToParent(parent); }
  // A wrap without parent: the source image, and copies before Clone.
  DW_BaseTemplate() = default;

  // The stage object (borrowed: valid while this wrap lives), generated first when
  // `generate` is true and it has not run to completion (a run that threw is run again);
  // null when there is none.
  DP* GetData(bool generate) {
    {
      MutexLock lock(dataMutex);
      if (!generate || m_settled) return stageData.get();
    }
    // A stored result is restored without readying the parent; otherwise the stage runs
    // on its readied inputs and its result is stored.
    if (!LoadFromStore()) {
      if (HasParent()) PrepareRequiredData();
      GenerateDataIfEmpty();
      SaveToStore();
    }
    MutexLock lock(dataMutex);
    return stageData.get();
  }

  // The stage object, made (after those of the parent and the extra inputs) but not run
  // when there is none; null when it cannot be made yet.
  DP* EnsureStage() {
    std::vector<QZRef<DW_Base>> spentInputs;  // released after the lock
    MutexLock lock(dataMutex);
    MakeStageUnrun(spentInputs);
    return stageData.get();
  }

  // Creates the stage object unless there is one and runs it unless it has run, then
  // takes its transform. A wrap whose extra inputs are not attached yet creates nothing:
  // a result made without them would be wrong for every tree that shares it.
  void GenerateDataIfEmpty() {
    std::vector<QZRef<DW_Base>> spentInputs;  // released after the lock
    MutexLock lock(dataMutex);
    if (!stageData && ExtraInputsReady()) {
      SpentInputsDuring creating(*this, spentInputs);
      CreateData(true);
    } else if (stageData && !m_settled) {
      stageData->GetPrimaryData(true);
    }
    if (!stageData || m_settled || !stageData->IsComputed()) return;
    Settle();
    m_computedUnsaved = true;
  }

  int64_t GetComputeNanoseconds() const override {
    if constexpr (std::is_base_of<DP_CommonBase, DP>::value) {
      MutexLock lock(dataMutex);
      return stageData ? stageData->GetOwnComputeNanoseconds() : 0;
    } else {
      return 0;
    }
  }

  bool IsLoadedFromStore() const override {
    if constexpr (std::is_base_of<DP_CommonBase, DP>::value) {
      MutexLock lock(dataMutex);
      return stageData && stageData->IsRestored();
    } else {
      return false;
    }
  }

  bool IsDataExist() const {
    MutexLock lock(dataMutex);
    return static_cast<bool>(stageData);
  }

  // The parent, pinned for as long as the caller keeps the handle; empty without one.
  QZRef<Parent> GetParentData() const {
    QZRef<DW_Base> parent = GetParentPinned();
    return QZRef<Parent>(static_cast<Parent*>(parent.get()));
  }

 protected:
  // Builds the stage object and stores it in stageData; runs it when `generate` is true.
  virtual void CreateData(bool generate) ORVEX_REQUIRES(dataMutex) = 0;
  // Whether the extra inputs the stage needs are attached (by default it needs none).
  virtual bool ExtraInputsReady() const ORVEX_REQUIRES(dataMutex) { return true; }
  // Stores an extra input unless the stage object exists already: it is needed only to
  // create it, and kept longer it would pin its wrap.
  template <class Wrap>
  void AttachExtraInput(QZRef<Wrap>& field, Wrap* input) ORVEX_REQUIRES(dataMutex) {
    if (!stageData) field.reset(input);
  }
  // Empties an extra-input field once the stage object has it; the wrap's count goes only
  // after dataMutex is released. Called inside CreateData.
  template <class Wrap>
  void LetGoOfExtraInput(QZRef<Wrap>& field) ORVEX_REQUIRES(dataMutex) {
    if (field && m_spentInputs != nullptr) m_spentInputs->push_back(QZRef<DW_Base>(field.get()));
    field.reset();
  }
  // Readies what the stage needs before dataMutex is taken; by default the parent's result.
  virtual void PrepareRequiredData() {
    if (QZRef<Parent> parent = GetParentData()) parent->GetData(true);
  }
  // Makes the stage objects the new one is made on, without running them: by default the
  // parent's. Called with dataMutex held (a wrap before its parent and inputs).
  virtual void EnsureInputStages() ORVEX_REQUIRES(dataMutex) {
    if (QZRef<Parent> parent = GetParentData()) parent->EnsureStage();
  }

  // A new stage object on the parent's stage object, or an empty handle when there is no
  // parent or it has no stage object yet (the wrap then makes none, and the next request
  // tries again: a stage made on a missing input would never have it).
  template <class... Args>
  QZRef<DP> NewStageOnParent(Args&&... args) const {
    QZRef<Parent> parent = GetParentData();
    auto* parentStage = parent ? parent->GetData(false) : nullptr;
    if (parentStage == nullptr) return QZRef<DP>();
    return QZRef<DP>(new DP(parentStage, std::forward<Args>(args)...));
  }
  // The parent's own stage object, for the wraps that select their parent's result.
  QZRef<DP> ParentStage() const {
    QZRef<Parent> parent = GetParentData();
    return parent ? QZRef<DP>(parent->GetData(false)) : QZRef<DP>();
  }
  // Stores `stage` and, when asked, runs it (after the extra inputs are let go, so that a
  // run that throws leaves the wrap as a finished creation whose run is tried again).
  void InstallStage(const QZRef<DP>& stage, bool generate) ORVEX_REQUIRES(dataMutex) {
    if (!stage) return;
    stageData = stage;
    LetGoOfExtraInputs();
    if (generate) stage->GetPrimaryData(true);
  }
  // Lets go of every extra input once the new stage object has them.
  virtual void LetGoOfExtraInputs() ORVEX_REQUIRES(dataMutex) {}

  QZRef<DP> stageData ORVEX_GUARDED_BY(dataMutex);

 private:
  // Takes the finished stage object's transform; the wrap is settled from then on.
  void Settle() ORVEX_REQUIRES(dataMutex) {
    if (const QZMatrix* transform = stageData->GetTransformMatFromSourceImage()) StoreTransform(*transform);
    m_settled = true;
  }

  // Makes the stage object without running it (the parent's and the extra inputs' first).
  void MakeStageUnrun(std::vector<QZRef<DW_Base>>& spentInputs) ORVEX_REQUIRES(dataMutex) {
    if (stageData || !ExtraInputsReady()) return;
    EnsureInputStages();
    SpentInputsDuring creating(*this, spentInputs);
    CreateData(false);
  }

  // The key of this wrap's stored result; empty id when it is not stored.
  StoreKey KeyInStore() const {
    StoreKey key;
    key.codeVersion = StoredCodeVersion();
    if (key.codeVersion == 0 || !Store()) return key;
    key.dataHashId = GetDataHashID();
    key.stage = static_cast<int>(GetStageType());
    return key;
  }

  // Restores the result from the store when it is there: true when the wrap is settled.
  bool LoadFromStore() {
    const StoreKey key = KeyInStore();
    if (key.dataHashId.empty()) return false;
    std::vector<QZRef<DW_Base>> spentInputs;  // released after the lock
    thread_local std::vector<unsigned char> payload;  // kept from one result to the next, sized by Load
    MutexLock lock(dataMutex);
    if (m_settled) return true;
    // A stage object made for a child's restore (but not run) takes the stored result too.
    if (stageData ? stageData->IsComputed() : !ExtraInputsReady()) return false;
    const bool hit = LoadStoredBytes(key, &payload);
    if (hit) MakeStageUnrun(spentInputs);
    const bool restored = hit && stageData && stageData->RestoreResult(payload.data(), payload.size());
    if (hit && stageData && !restored) RefuseStoredBytes(key);
    KeepBufferNearItsUse(payload);
    if (!restored) return false;
    Settle();
    return true;
  }

  // Keeps the result in the store once it has been computed here (not restored).
  void SaveToStore() {
    QZRef<DP> stage;
    {
      MutexLock lock(dataMutex);
      if (!m_computedUnsaved) return;
      m_computedUnsaved = false;
      stage = stageData;
    }
    const StoreKey key = KeyInStore();
    if (key.dataHashId.empty()) return;
    // One buffer per thread, kept from one result to the next: no fresh pages per result.
    thread_local std::vector<unsigned char> payload;
    payload.clear();
    if (stage && stage->EncodeResult(&payload)) SaveStoredBytes(key, payload);
    KeepBufferNearItsUse(payload);
  }

  // Points m_spentInputs at `spent` while CreateData runs, also when it throws.
  class SpentInputsDuring {
   public:
    SpentInputsDuring(DW_BaseTemplate& wrap, std::vector<QZRef<DW_Base>>& spent) ORVEX_REQUIRES(wrap.dataMutex)
        : m_wrap(wrap) {
      m_wrap.m_spentInputs = &spent;
    }
    ~SpentInputsDuring() ORVEX_NO_THREAD_SAFETY_ANALYSIS { m_wrap.m_spentInputs = nullptr; }

   private:
    DW_BaseTemplate& m_wrap;
  };

  // While CreateData runs: where the spent extra inputs go.
  std::vector<QZRef<DW_Base>>* m_spentInputs ORVEX_GUARDED_BY(dataMutex) = nullptr;
  // The stage object has run to completion and its transform is taken.
  bool m_settled ORVEX_GUARDED_BY(dataMutex) = false;
  // The stage object was computed by this wrap and its result is not yet handed to the store.
  bool m_computedUnsaved ORVEX_GUARDED_BY(dataMutex) = false;
};

// A wrap whose result is an image.
template <class DP, class Parent>
class DW_ImageTemplate : public DW_BaseTemplate<DP, Parent> {
 public:
  using DW_BaseTemplate<DP, Parent>::DW_BaseTemplate;

  // The result image, owned by the stage object; never starts generation. Leaves *image
  // unchanged (and answers 0) before the wrap was generated.
  int GetDataAsImageData(core::CImageData** image) const override {
    return ReturnOrFail(-1, [&] {
      if (image == nullptr) return -1;
      QZRef<DP> stage;
      {
        MutexLock lock(this->dataMutex);
        stage = this->stageData;
      }
      if (stage) *image = stage->GetResultAsImageData();
      return 0;
    });
  }

  // Replacing a result with caller data is not supported.
  int CreateDataAsImageData(int, int, int, core::ImagePixelFormat, core::CImageData**) override {
    return ReturnOrFail(-1, [&] {
      MutexLock lock(this->dataMutex);
      return -1;
    });
  }
};

class DP_NoneData;

// Names the absent parent of the source image; never instantiated.
class DW_NoneDataWrap : public DW_BaseTemplate<DP_NoneData, DW_NoneDataWrap> {};

}  // namespace orvex

#endif
