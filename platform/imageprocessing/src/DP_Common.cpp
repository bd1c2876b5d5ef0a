// Counters, image views and transform composition shared by every processing stage.
#include <orvex/improc/DP_Stages.h>

#include "Computation.h"
#include "StageOperations.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace orvex {

namespace {

std::atomic<int> g_liveStages[DPK_COUNT];
std::atomic<int> g_computations[DPK_COUNT];
std::atomic<int> g_restores[DPK_COUNT];
std::atomic<int64_t> g_computeNanoseconds[DPK_COUNT];
std::atomic<int64_t> g_liveResultBytes{0};

constexpr const char* kKindNames[DPK_COUNT] = {
    "DP_SourceImage",         "DP_SizeFittingImage",     "DP_ScalingDownImage",   "DP_ColourConvertWholeImage",
    "DP_GrayTransformWholeImage", "DP_DetectROIs",       "DP_ROIImage",           "DP_ColourConvertROIImage",
    "DP_GrayTransformROIImage", "DP_RotateROIImage",     "DP_PerspectiveROIImage", "DP_EnhanceROIImage",
    "DP_BinarizeROIImage",    "DP_TextureDetectImage",   "DP_EnhanceTextureImage", "DP_BinarizeTextureImage",
    "DP_TextFilteringImage",  "DP_ProcessContour",       "DP_ProcessLineSet"};

std::string Named(const DP_CommonBase& stage, const std::string& mode) {
  return std::string(stage.KindName()) + (mode.empty() ? "" : " (" + mode + ")");
}

}  // namespace

uint64_t& CurrentComputation() noexcept {
  static thread_local uint64_t current = 0;
  return current;
}

DP_CommonBase::ComputationScope::ComputationScope() : m_outer(CurrentComputation()) {
#ifdef ORVEX_CHECK_HELD_LOCKS
  static std::atomic<uint64_t> serial{0};
  CurrentComputation() = serial.fetch_add(1, std::memory_order_relaxed) + 1;
#endif
}

DP_CommonBase::ComputationScope::~ComputationScope() { CurrentComputation() = m_outer; }

const char* DP_CommonBase::KindName() const { return kKindNames[m_kind]; }

bool DP_CommonBase::SealsResults() {
#ifdef ORVEX_CHECK_RESULTS
  return true;
#else
  return false;
#endif
}

void DP_CommonBase::AbortOnChangedResult(const DP_CommonBase& stage, const std::string& stageMode, const char* when,
                                         const DP_CommonBase* reader) {
  std::string message = "orvex: the settled result of " + Named(stage, stageMode) + " has changed";
  if (reader != nullptr) message += "; " + Named(*reader, reader->DescribeMode()) + " wrote into it";
  message += std::string(" (found when ") + when + ")";
  std::fprintf(stderr, "%s\n", message.c_str());
  std::abort();
}

ImageWithQuad::ImageWithQuad(const cv::Mat& imageMat, const QZ_Quad& regionQuad)
    : image(new QZMatrix(imageMat)), quad(regionQuad) {}

DP_CommonBase::DP_CommonBase(DP_StageKind kind) : m_kind(kind) {
  g_liveStages[kind].fetch_add(1, std::memory_order_relaxed);
}

DP_CommonBase::~DP_CommonBase() {
  ExpectNoLibraryLockHeld("a stage object is freed");
  g_liveStages[m_kind].fetch_sub(1, std::memory_order_relaxed);
  g_liveResultBytes.fetch_sub(m_resultBytes, std::memory_order_relaxed);
}

int DP_CommonBase::GetLiveCount(DP_StageKind kind) { return g_liveStages[kind].load(std::memory_order_relaxed); }

int DP_CommonBase::GetTotalLiveCount() {
  int total = 0;
  for (const std::atomic<int>& live : g_liveStages) total += live.load(std::memory_order_relaxed);
  return total;
}

int DP_CommonBase::GetComputationCount(DP_StageKind kind) {
  return g_computations[kind].load(std::memory_order_relaxed);
}

int DP_CommonBase::GetRestoreCount(DP_StageKind kind) { return g_restores[kind].load(std::memory_order_relaxed); }

int64_t DP_CommonBase::GetComputeNanoseconds(DP_StageKind kind) {
  return g_computeNanoseconds[kind].load(std::memory_order_relaxed);
}

int64_t DP_CommonBase::GetLiveResultBytes() { return g_liveResultBytes.load(std::memory_order_relaxed); }

void DP_CommonBase::CountComputation(int64_t nanoseconds) {
  g_computations[m_kind].fetch_add(1, std::memory_order_relaxed);
  g_computeNanoseconds[m_kind].fetch_add(nanoseconds, std::memory_order_relaxed);
  m_ownNanoseconds.fetch_add(nanoseconds, std::memory_order_relaxed);
}

void DP_CommonBase::CountRestore() {
  g_restores[m_kind].fetch_add(1, std::memory_order_relaxed);
  m_restored.store(true, std::memory_order_relaxed);
}

void DP_CommonBase::AccountResultBytes(int64_t bytes) {
  m_resultBytes += bytes;
  g_liveResultBytes.fetch_add(bytes, std::memory_order_relaxed);
}

bool FillImageView(const cv::Mat& image, core::CImageData& view) {
  if (image.empty() || image.dims != 2 || image.depth() != CV_8U) return false;
  core::ImagePixelFormat format;
  switch (image.channels()) {
    case 1: format = core::IPF_GRAYSCALE_8; break;
    case 3: format = core::IPF_BGR_888; break;
    case 4: format = core::IPF_BGRA_8888; break;
    default: return false;
  }
  view.Reset(image.data, image.cols, image.rows, static_cast<int>(image.step), format);
  return true;
}

QZRef<QZMatrix> ComposeTransform(const cv::Matx33d& step, const QZMatrix* inputTransform) {
  const cv::Matx33d before = inputTransform != nullptr ? stageops::ToMatx(inputTransform->GetMat()) : cv::Matx33d::eye();
  const cv::Matx33d combined = step * before;
  QZRef<QZMatrix> result(new QZMatrix(3, 3, CV_64FC1, 0, true));
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) result->GetMat().at<double>(r, c) = combined(r, c);
  return result;
}

}  // namespace orvex
