// The common machinery of the processing stages.
//
// A stage object is counted (QZRef). It holds its input stage and any linked stages
// through counted references, so it stays correct even when the data wraps that made
// those inputs are gone. Its result (primaryData) is computed at most once, under the
// stage's own mutex, the first time GetPrimaryData(true) is asked; a computation that ran
// and produced nothing is not retried, one that failed by an exception is (the next
// request computes again). All public operations are thread-safe.
// A stage holds its own primaryDataMutex while it computes, taking its input's and linked
// stages' mutexes briefly inside (lock order: OrvexStagecacheHost.h).
#ifndef ORVEX_IMPROC_DP_TEMPLATE_H
#define ORVEX_IMPROC_DP_TEMPLATE_H

#include <orvex/foundation/Export.h>
#include <orvex/core/CImageData.h>
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
// answers like a stage that never has a result.
class DP_NoneData : public QZObjectBase {
 public:
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

 protected:
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

  DP_Template(DP_StageKind kind, Input* input) : DP_CommonBase(kind), input(input) {}

  // The result, computed first when `generate` is true and no computation has completed.
  // A computation that throws leaves no result and is not remembered: an allocation
  // failure reaches the caller, any other exception (OpenCV refusing its input) is logged;
  // either way the next request computes again.
  QZRef<Data> GetPrimaryData(bool generate) {
    {
      MutexLock lock(primaryDataMutex);
      if (primaryData || primaryDataAttempted || !generate) return primaryData;
    }
    // The inputs are readied without this stage's lock, so they may ask their own inputs.
    PrepareInputData();
    Discarded discarded;  // what a failed computation left, freed after the lock
    MutexLock lock(primaryDataMutex);
    if (!primaryData && !primaryDataAttempted) ComputeOnce(discarded);
    return primaryData;
  }

  // Whether a computation has completed (with or without a result).
  bool IsComputed() {
    MutexLock lock(primaryDataMutex);
    return primaryDataAttempted;
  }

  bool EncodeResult(std::vector<unsigned char>* out) override {
    MutexLock lock(primaryDataMutex);
    if (!primaryDataAttempted || ResultIsInputsOwn()) return false;
    ResultWriter writer(out);
    writer.Int(primaryData ? 1 : 0);
    if (primaryData) WriteResult(writer, *primaryData);
    writer.Pixels(transformFromSource ? transformFromSource->GetMat() : cv::Mat());
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
    return true;
  }

  core::CImageData* GetResultAsImageData() override {
    MutexLock lock(primaryDataMutex);
    if (!primaryData) return nullptr;
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
  // Readies the inputs before the computation; runs without the stage's lock.
  virtual void PrepareInputData() {
    if (input) input->GetPrimaryData(true);
  }
  // The input first, then each linked stage that is set.
  template <class... Linked>
  void PrepareInputAndLinked(const QZRef<Linked>&... linked) {
    DP_Template::PrepareInputData();
    (void)std::initializer_list<int>{(linked ? (linked->GetPrimaryData(true), 0) : 0)...};
  }
  // Sets primaryData (or leaves it null) and transformFromSource.
  virtual void ComputePrimaryData() ORVEX_REQUIRES(primaryDataMutex) = 0;
  // Whether the result is the input's own pixels, as they are: not worth storing apart.
  virtual bool ResultIsInputsOwn() ORVEX_REQUIRES(primaryDataMutex) { return false; }

  // The input's result, or null when there is no input or it produced nothing.
  auto InputData() const -> decltype(std::declval<Input&>().GetPrimaryData(false)) {
    if (!input) return {};
    return input->GetPrimaryData(false);
  }
  // The transform of this result: `step` after the input's own transform.
  void SetTransformAfterInput(const cv::Matx33d& step) ORVEX_REQUIRES(primaryDataMutex) {
    transformFromSource = ComposeTransform(step, input ? input->GetTransformMatFromSourceImage() : nullptr);
  }
  // A result in the input's coordinates.
  void KeepInputTransform() ORVEX_REQUIRES(primaryDataMutex) { SetTransformAfterInput(cv::Matx33d::eye()); }

  QZRef<Input> input;
  // primaryDataMutex guards the fields below.
  Mutex primaryDataMutex;
  QZRef<Data> primaryData ORVEX_GUARDED_BY(primaryDataMutex);
  bool primaryDataAttempted ORVEX_GUARDED_BY(primaryDataMutex) = false;
  QZRef<QZMatrix> transformFromSource ORVEX_GUARDED_BY(primaryDataMutex);
  core::CImageData resultView ORVEX_GUARDED_BY(primaryDataMutex);
  bool resultViewReady ORVEX_GUARDED_BY(primaryDataMutex) = false;

 private:
  // What a computation that threw had made so far.
  struct Discarded {
    QZRef<Data> data;
    QZRef<QZMatrix> transform;
  };

  // Runs the computation, counts it and its result's bytes.
  void ComputeOnce(Discarded& discarded) ORVEX_REQUIRES(primaryDataMutex) {
    const auto start = std::chrono::steady_clock::now();
    try {
      ComputePrimaryData();
    } catch (const std::exception& failure) {
      discarded.data = std::move(primaryData);
      discarded.transform = std::move(transformFromSource);
      if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) throw;
      QZLog::m_instance.WriteMessage(1, failure.what());
      return;
    }
    primaryDataAttempted = true;
    CountComputation(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    AccountBytesOfResult();
  }

  void AccountBytesOfResult() ORVEX_REQUIRES(primaryDataMutex) {
    if (primaryData) {
      if (const cv::Mat* image = ResultImageOf(*primaryData)) AccountResultBytes(static_cast<int64_t>(image->total() * image->elemSize()));
    }
  }
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

 protected:
  Record m_mode;
};

}  // namespace orvex

#endif
