// The common machinery of the processing stages.
//
// A stage object is counted (QZRef). It holds its input stage and any linked stages
// through counted references, so it stays correct even when the data wraps that made
// those inputs are gone. Its result (primaryData) is computed at most once, under the
// stage's own mutex, the first time GetPrimaryData(true) is asked; the stage is then
// settled, with its result or with none, and its result is never written again, by
// anyone. Only a stage that ran on its real inputs settles: while its input or a linked
// stage is not settled (a computation that threw, pixels that could not be had), the
// stage computes nothing and stays unsettled, and the next request tries again; a
// computation that throws is not remembered either. All public operations are
// thread-safe.
//
// A stage reads its inputs' results as const objects (InputData, LinkedData) and writes
// only objects it makes. Checking builds (SealsResults) seal each result when it settles
// (a fingerprint of its bytes) and check the seal when the stage goes, before the result
// is saved to a store, when a view of it is handed to a host, and, for the inputs, after
// every computation that read them: a changed result aborts the process, naming the stage
// and its mode.
//
// A stage holds its own primaryDataMutex while it computes, taking its input's and linked
// stages' mutexes briefly inside (lock order: OrvexStagecacheHost.h).
#ifndef ORVEX_IMPROC_DP_TEMPLATE_H
#define ORVEX_IMPROC_DP_TEMPLATE_H

#include <orvex/foundation/Export.h>
#include <orvex/core/CImageData.h>
#include <orvex/foundation/ModeLiterals.h>
#include <orvex/foundation/ModeRecordTypes.h>
#include <orvex/foundation/Mutex.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/improc/QZLog.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/improc/QZ_Quad.h>
#include <orvex/improc/ResultCodec.h>
#include <orvex/improc/StageResults.h>

#include <opencv2/core.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <new>
#include <utility>
#include <vector>

namespace orvex {

// One value per stage class, for the per-class counters; listed in DP_Stages.h, beside
// the classes.
enum DP_StageKind : int;

// "No data": the input of the source stage and the stage of the placeholder wrap. It
// answers like a settled stage that has no result.
class DP_NoneData : public QZObjectBase {
 public:
  typedef DP_NoneData DataType;
  QZRef<DP_NoneData> GetPrimaryData(bool) { return QZRef<DP_NoneData>(); }
  bool IsComputed() { return true; }
  bool EncodeResult(std::vector<unsigned char>*) { return false; }
  bool RestoreResult(const unsigned char*, std::size_t) { return false; }
  QZMatrix* GetTransformMatFromSourceImage() { return nullptr; }
};

class ORVEX_EXPORT DP_CommonBase : public QZObjectBase {
 public:
  explicit DP_CommonBase(DP_StageKind kind);
  ~DP_CommonBase() override;
  DP_CommonBase(const DP_CommonBase&) = delete;
  DP_CommonBase& operator=(const DP_CommonBase&) = delete;

  // The result as image data, owned by the stage and valid while it lives; null when
  // there is no result or it is not an image.
  virtual core::CImageData* GetResultAsImageData() = 0;
  // A 3 x 3 matrix of doubles mapping source-image coordinates to result coordinates,
  // owned by the stage; null before the computation or when there is no result.
  virtual QZMatrix* GetTransformMatFromSourceImage() = 0;

  // Stage objects alive of one class, and computations run by it, since the process started.
  static int GetLiveCount(DP_StageKind kind);
  static int GetTotalLiveCount();
  static int GetComputationCount(DP_StageKind kind);
  // Results of one class taken from a result store instead of computed, since the process started.
  static int GetRestoreCount(DP_StageKind kind);
  // Time the class's computations took, in nanoseconds, since the process started.
  static int64_t GetComputeNanoseconds(DP_StageKind kind);
  // Approximate bytes of pixels held by the results of all live stage objects.
  static int64_t GetLiveResultBytes();
  // Time this object's own computation took, in nanoseconds; 0 until it has run.
  int64_t GetOwnComputeNanoseconds() const { return m_ownNanoseconds.load(std::memory_order_relaxed); }
  // Whether this object's result was taken from a result store instead of computed.
  bool IsRestored() const { return m_restored.load(std::memory_order_relaxed); }

  // The computed result (or that there is none) and its transform as bytes, appended to
  // *out (ResultCodec.h); false before a computation has completed.
  virtual bool EncodeResult(std::vector<unsigned char>* out) = 0;
  // Takes a result read back from such bytes instead of computing it; false, nothing
  // changed, for bytes that hold no result of this stage. A stage that has a result
  // already keeps it (and answers true).
  virtual bool RestoreResult(const unsigned char* bytes, std::size_t size) = 0;

  // Whether a computation (or a restore) has completed, with or without a result.
  virtual bool IsComputed() = 0;
  // Computes the result when it is not settled yet (GetPrimaryData(true), result dropped).
  virtual void Ready() = 0;

  // The stage's class name ("DP_DetectROIs") and its mode in words (empty for a stage
  // without one), for messages.
  const char* KindName() const;
  virtual std::string DescribeMode() const { return std::string(); }

  // Whether this build seals results and checks the seals (the checking builds).
  static bool SealsResults();
  // Whether the sealed result still has the bytes it settled with (true when not sealed).
  virtual bool SealHolds() = 0;

 protected:
  // The stages a stage reads besides its input (null where not set); set before it runs.
  struct LinkedStages {
    DP_CommonBase* first = nullptr;
    DP_CommonBase* second = nullptr;
  };
  virtual LinkedStages Linked() const { return LinkedStages(); }
  // Aborts: `stage`'s settled result changed, found when `when` (and by the computation
  // of `reader`, when a computation that read it found it).
  [[noreturn]] static void AbortOnChangedResult(const DP_CommonBase& stage, const std::string& stageMode,
                                                const char* when, const DP_CommonBase* reader);

  // While it lives, the thread computes: the matrices made meanwhile are the
  // computation's own, and the check that nothing is freed under a library lock leaves
  // them to it.
  class ComputationScope {
   public:
    ComputationScope();
    ~ComputationScope();
    ComputationScope(const ComputationScope&) = delete;
    ComputationScope& operator=(const ComputationScope&) = delete;

   private:
    uint64_t m_outer;
  };


  void CountComputation(int64_t nanoseconds);
  void CountRestore();
  // Adds the pixel bytes of this stage's result to the process-wide total until the stage goes.
  void AccountResultBytes(int64_t bytes);

 private:
  DP_StageKind m_kind;
  int64_t m_resultBytes = 0;
  std::atomic<int64_t> m_ownNanoseconds{0};
  std::atomic<bool> m_restored{false};
};

// Stage results that are images expose them; the others have none.
inline const cv::Mat* ResultImageOf(const QZMatrix& result) { return &result.GetMat(); }
inline const cv::Mat* ResultImageOf(const ImageWithQuad& result) { return result.image ? &result.image->GetMat() : nullptr; }
inline const cv::Mat* ResultImageOf(const FilteredBinaryImage& result) {
  return result.image ? &result.image->GetMat() : nullptr;
}
inline const cv::Mat* ResultImageOf(const QZObjectBase&) { return nullptr; }

// Points `view` at an 8-bit image of 1, 3 or 4 channels; false for any other image.
ORVEX_EXPORT bool FillImageView(const cv::Mat& image, core::CImageData& view);

// step x (input transform, or identity when there is none), as a new 3 x 3 matrix.
ORVEX_EXPORT QZRef<QZMatrix> ComposeTransform(const cv::Matx33d& step, const QZMatrix* inputTransform);

template <class Data, class Input>
class DP_Template : public DP_CommonBase {
 public:
  typedef Data DataType;
  typedef Input InputType;
  typedef typename Input::DataType InputDataType;

  DP_Template(DP_StageKind kind, Input* input) : DP_CommonBase(kind), input(input) {}
  ~DP_Template() override {
    if (!m_releaseChecked && SealsResults() && !SealHoldsOnRelease()) {
      AbortOnChangedResult(*this, std::string(), "the result was released", nullptr);
    }
  }

  // The result, computed first when `generate` is true and the stage is not settled.
  // A computation that throws leaves no result and is not remembered: an allocation
  // failure reaches the caller, any other exception (OpenCV refusing its input) is logged;
  // either way the next request computes again. So does a request while an input is not
  // settled.
  QZRef<Data> GetPrimaryData(bool generate) {
    {
      MutexLock lock(primaryDataMutex);
      if (primaryData || primaryDataAttempted || !generate) return primaryData;
    }
    // The inputs are readied without this stage's lock, so they may ask their own inputs.
    PrepareInputData();
    Discarded discarded;  // what a failed computation left, freed after the lock
    MutexLock lock(primaryDataMutex);
    if (!primaryDataAttempted && InputsSettled()) ComputeOnce(discarded);
    return primaryData;
  }

  bool IsComputed() override {
    MutexLock lock(primaryDataMutex);
    return primaryDataAttempted;
  }

  void Ready() override { GetPrimaryData(true); }

  bool SealHolds() override {
    MutexLock lock(primaryDataMutex);
    return !m_sealed || FingerprintLocked() == m_seal;
  }

  bool EncodeResult(std::vector<unsigned char>* out) override {
    MutexLock lock(primaryDataMutex);
    if (!primaryDataAttempted || ResultIsInputsOwn()) return false;
    const std::size_t start = out->size();
    ResultWriter writer(out);
    WriteEncoding(writer);
    if (m_sealed && FingerprintOfBytes(out->data() + start, out->size() - start) != m_seal) {
      AbortOnChangedResult(*this, DescribeMode(), "it was about to be saved to a result store", nullptr);
    }
    return true;
  }

  bool RestoreResult(const unsigned char* bytes, std::size_t size) override {
    ResultReader reader(bytes, size);
    int64_t present = 0;
    QZRef<Data> data;
    cv::Mat transform;
    if (!reader.Int(&present) || (present != 0 && present != 1)) return false;
    if (present == 1 && !(data = ReadResult(reader, static_cast<const Data*>(nullptr)))) return false;
    if (!reader.Pixels(&transform) || !reader.AtEnd()) return false;
    if (!transform.empty() && (transform.rows != 3 || transform.cols != 3 || transform.type() != CV_64FC1)) return false;
    QZRef<QZMatrix> transformMatrix(transform.empty() ? nullptr : new QZMatrix(transform));
    MutexLock lock(primaryDataMutex);
    if (primaryDataAttempted) return true;
    primaryData.swap(data);
    transformFromSource.swap(transformMatrix);
    primaryDataAttempted = true;
    CountRestore();
    AccountBytesOfResult();
    SealLocked();
    return true;
  }

  core::CImageData* GetResultAsImageData() override {
    MutexLock lock(primaryDataMutex);
    if (!primaryData) return nullptr;
    if (m_sealed && FingerprintLocked() != m_seal) {
      AbortOnChangedResult(*this, DescribeMode(), "a view of it was about to be handed out", nullptr);
    }
    if (!resultViewReady) {
      const cv::Mat* image = ResultImageOf(*primaryData);
      resultViewReady = image != nullptr && FillImageView(*image, resultView);
    }
    return resultViewReady ? &resultView : nullptr;
  }

  QZMatrix* GetTransformMatFromSourceImage() override {
    MutexLock lock(primaryDataMutex);
    return transformFromSource.get();
  }

 protected:
  // Readies the input and the linked stages before the computation; runs without the
  // stage's lock.
  virtual void PrepareInputData() {
    if (input) input->GetPrimaryData(true);
    const LinkedStages linked = Linked();
    if (linked.first != nullptr) linked.first->Ready();
    if (linked.second != nullptr) linked.second->Ready();
  }
  // Sets primaryData (or leaves it null) and transformFromSource, from the inputs' results
  // (read only) into objects of its own; or calls LeaveUnsettled.
  virtual void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) = 0;
  // Whether the result is the input's own pixels, as they are: not worth storing apart.
  virtual bool ResultIsInputsOwn() ORVEX_REQUIRES(primaryDataMutex) { return false; }

  // The input's result, read only; null when there is no input or it has no result.
  QZRef<const InputDataType> InputData() const {
    if (!input) return QZRef<const InputDataType>();
    return QZRef<const InputDataType>(input->GetPrimaryData(false));
  }
  // A linked stage's result, read only; null when the stage is not set or has no result.
  template <class Stage>
  static QZRef<const typename Stage::DataType> LinkedData(const QZRef<Stage>& linked) {
    if (!linked) return QZRef<const typename Stage::DataType>();
    return QZRef<const typename Stage::DataType>(linked->GetPrimaryData(false));
  }
  // A settled result taken unchanged as this stage's result too: settled results are
  // never written, so one object may be the result of several stages.
  template <class Result>
  static QZRef<Result> Unchanged(const QZRef<const Result>& settled) {
    return QZRef<Result>(const_cast<Result*>(settled.get()));
  }
  // The transform of this result: `step` after the input's own transform.
  void SetTransformAfterInput(const cv::Matx33d& step) ORVEX_REQUIRES(primaryDataMutex) {
    transformFromSource = ComposeTransform(step, input ? input->GetTransformMatFromSourceImage() : nullptr);
  }
  // A result in the input's coordinates.
  void KeepInputTransform() ORVEX_REQUIRES(primaryDataMutex) { SetTransformAfterInput(cv::Matx33d::eye()); }
  // Called by a computation that could not run on its real input (pixels that could not
  // be had): whatever it set is dropped, and the stage stays unsettled.
  void LeaveUnsettled() ORVEX_REQUIRES(primaryDataMutex) { m_leaveUnsettled = true; }
  // Whether the seal holds as the stage goes (checked once: the stages that keep a mode
  // check it while the mode is still there, to name it).
  bool SealHoldsOnRelease() {
    m_releaseChecked = true;
    return SealHolds();
  }

  QZRef<Input> input;
  // primaryDataMutex guards the fields below.
  Mutex primaryDataMutex;
  QZRef<Data> primaryData ORVEX_GUARDED_BY(primaryDataMutex);
  bool primaryDataAttempted ORVEX_GUARDED_BY(primaryDataMutex) = false;
  QZRef<QZMatrix> transformFromSource ORVEX_GUARDED_BY(primaryDataMutex);
  core::CImageData resultView ORVEX_GUARDED_BY(primaryDataMutex);
  bool resultViewReady ORVEX_GUARDED_BY(primaryDataMutex) = false;

 private:
  // What a computation that threw, or could not run, had made so far.
  struct Discarded {
    QZRef<Data> data;
    QZRef<QZMatrix> transform;
  };

  // Whether the input and every linked stage are settled: a stage computes only on the
  // real results of its inputs.
  bool InputsSettled() ORVEX_REQUIRES(primaryDataMutex) {
    if constexpr (!std::is_same<Input, DP_NoneData>::value) {
      if (!input || !input->IsComputed()) return false;
    }
    const LinkedStages linked = Linked();
    return (linked.first == nullptr || linked.first->IsComputed()) &&
           (linked.second == nullptr || linked.second->IsComputed());
  }

  // Runs the computation; a settled result is counted, its bytes accounted and sealed.
  void ComputeOnce(Discarded& discarded) ORVEX_REQUIRES(primaryDataMutex) {
    const auto start = std::chrono::steady_clock::now();
    try {
      ComputationScope computing;
      ComputePrimaryData();
    } catch (const std::exception& failure) {
      Discard(discarded);
      if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) throw;
      QZLog::m_instance.WriteMessage(1, failure.what());
      return;
    }
    if (m_leaveUnsettled) {
      Discard(discarded);
      return;
    }
    primaryDataAttempted = true;
    CountComputation(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    AccountBytesOfResult();
    SealLocked();
    CheckInputsUnchanged();
  }

  void Discard(Discarded& discarded) ORVEX_REQUIRES(primaryDataMutex) {
    discarded.data = std::move(primaryData);
    discarded.transform = std::move(transformFromSource);
    m_leaveUnsettled = false;
  }

  void AccountBytesOfResult() ORVEX_REQUIRES(primaryDataMutex) {
    if (primaryData) {
      if (const cv::Mat* image = ResultImageOf(*primaryData)) AccountResultBytes(static_cast<int64_t>(image->total() * image->elemSize()));
    }
  }

  // The result's bytes as EncodeResult writes them.
  void WriteEncoding(ResultWriter& writer) ORVEX_REQUIRES(primaryDataMutex) {
    writer.Int(primaryData ? 1 : 0);
    if (primaryData) WriteResult(writer, *primaryData);
    writer.Pixels(transformFromSource ? transformFromSource->GetMat() : cv::Mat());
  }
  uint64_t FingerprintLocked() ORVEX_REQUIRES(primaryDataMutex) {
    ResultFingerprint fingerprint;
    ResultWriter writer(&fingerprint);
    WriteEncoding(writer);
    return fingerprint.Value();
  }
  void SealLocked() ORVEX_REQUIRES(primaryDataMutex) {
    if (!SealsResults()) return;
    m_seal = FingerprintLocked();
    m_sealed = true;
  }
  // After a computation: the inputs it read have the bytes they settled with.
  void CheckInputsUnchanged() ORVEX_REQUIRES(primaryDataMutex) {
    if (!SealsResults()) return;
    const LinkedStages linked = Linked();
    for (DP_CommonBase* read : {static_cast<DP_CommonBase*>(InputStage()), linked.first, linked.second}) {
      if (read != nullptr && !read->SealHolds()) {
        AbortOnChangedResult(*read, read->DescribeMode(), "a computation that read it had run", this);
      }
    }
  }
  DP_CommonBase* InputStage() const {
    if constexpr (std::is_base_of<DP_CommonBase, Input>::value) {
      return input.get();
    } else {
      return nullptr;
    }
  }

  bool m_leaveUnsettled ORVEX_GUARDED_BY(primaryDataMutex) = false;
  // The fingerprint of the settled result, in the checking builds.
  uint64_t m_seal ORVEX_GUARDED_BY(primaryDataMutex) = 0;
  bool m_sealed ORVEX_GUARDED_BY(primaryDataMutex) = false;
  // Set by the destructor that checked the seal, so that it is checked once.
  bool m_releaseChecked = false;
};

// A stage that reads its input only.
template <class Data, class Input, DP_StageKind Kind>
class DP_InputStage : public DP_Template<Data, Input> {
 public:
  static constexpr DP_StageKind kKind = Kind;
  explicit DP_InputStage(Input* input) : DP_Template<Data, Input>(Kind, input) {}
};

// A stage that keeps its own copy of a mode record or list of records (a default one for
// a null pointer).
template <class Data, class Input, class Record, DP_StageKind Kind>
class DP_RecordStage : public DP_Template<Data, Input> {
 public:
  static constexpr DP_StageKind kKind = Kind;
  DP_RecordStage(Input* input, const Record* mode) : DP_Template<Data, Input>(Kind, input), m_mode(CopyOfRecord(mode)) {}
  ~DP_RecordStage() override {
    if (this->SealsResults() && !this->SealHoldsOnRelease()) {
      this->AbortOnChangedResult(*this, DescribeMode(), "the result was released", nullptr);
    }
  }

  std::string DescribeMode() const override { return DescribeModeRecord(m_mode); }

 protected:
  Record m_mode;
};

}  // namespace orvex

#endif
