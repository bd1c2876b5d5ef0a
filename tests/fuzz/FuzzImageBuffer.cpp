// Pixel buffers of any width, height, stride and format, with exactly the bytes they
// claim: the hash id from the buffer, and the image added to a group and processed.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>
#include <vector>

namespace {

using namespace orvex;

ParamTreeGroup* Group() {
  static QZ_ImageParameter parameters = testing::PageParameters(10);
  static QZRef<ParamTreeGroup> group = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->InitParameterTreeGroup(
      &parameters, &testing::RegisterGroup, "fuzz-buffers");
  return group.get();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ImageLimits limits = QZMatrix::GetImageLimits();
  limits.maxPixels = 256 * 256;  // keeps each input quick; larger ones are refused
  QZMatrix::SetImageLimits(limits);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FuzzedDataProvider data(bytes, size);
  const int width = data.ConsumeIntegralInRange<int>(-4, 300);
  const int height = data.ConsumeIntegralInRange<int>(-4, 300);
  const int stride = data.ConsumeIntegralInRange<int>(-8, 1300);
  const auto format = static_cast<core::ImagePixelFormat>(data.ConsumeIntegralInRange<int>(-1, 7));
  // The buffer holds what it claims (height rows of stride bytes), as the contract asks.
  const size_t claimed = width > 0 && height > 0 && stride > 0 ? size_t(height) * stride : 0;
  std::vector<unsigned char> pixels = data.ConsumeBytes<unsigned char>(claimed);
  pixels.resize(claimed + 1);
  core::CImageData view(pixels.data(), width, height, stride, format);
  char* id = TAV_GetImageHashIdFromBuffer(&view);
  TAV_FreeString(&id);

  QZRef<QZMatrix> matrix(new QZMatrix());
  int error = 0;
  if (!QZMatrix::GetMatrixByBuffer(pixels.data(), width, height, stride, format, &error, QZLM_COLOUR, matrix.get(),
                                   CCUT_ALL_CHANNELS)) {
    return 0;
  }
  const StageRequestMap keep = RequestEveryStage();
  char imageId[kHashIdBufferSize];
  if (Group()->AddSourceData(matrix, data.ConsumeIntegral<int>(), data.ConsumeIntegral<int>(), imageId, keep)) {
    testing::AddRegionsAndGenerateLines(*Group(), imageId);
    Group()->MinusSavedTypeCount(imageId, keep);
    Group()->RemoveSameSourceData(imageId);
  }
  return 0;
}
