// Any bytes as a result store's entry file, and as a stored result: read back or refused,
// never misread. A valid entry for the fuzzer's key is in the seed corpus.
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/improc/DP_Stages.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace orvex;

namespace {

// Restores the bytes into a stage of each result type; what restores must encode back to
// bytes that restore the same way.
template <class Stage, class... Args>
void Restore(const std::vector<unsigned char>& bytes, Args... args) {
  QZRef<Stage> stage(new Stage(args...));
  if (!stage->RestoreResult(bytes.data(), bytes.size())) return;
  std::vector<unsigned char> again;
  if (!stage->EncodeResult(&again)) std::abort();
  QZRef<Stage> copy(new Stage(args...));
  if (!copy->RestoreResult(again.data(), again.size())) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<unsigned char> payload;
  if (hostkit::FileResultStore::DecodeEntry(bytes, "fuzz-23|23|1", 23, 1, &payload)) {
    Restore<DP_ProcessLineSet>(payload, nullptr, nullptr);
  }
  const std::vector<unsigned char> raw(data, data + size);
  Restore<DP_ProcessLineSet>(raw, nullptr, nullptr);
  Restore<DP_ProcessContour>(raw, nullptr);
  Restore<DP_TextureDetectImage>(raw, nullptr, nullptr);
  Restore<DP_ROIImage>(raw, nullptr, QZ_Quad());
  Restore<DP_DetectROIs>(raw, nullptr, nullptr);
  Restore<DP_BinarizeROIImage>(raw, nullptr, nullptr);
  return 0;
}
