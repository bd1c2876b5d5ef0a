// Any bytes as an image file: the hash id from the file and the reader the stagecache tool
// uses, which must answer with an error code or a matrix and never crash or over-allocate.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const std::string& Path() {
  static const std::string path = "/tmp/orvex-fuzz-image-" + std::to_string(getpid());
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  orvex::ImageLimits limits = orvex::QZMatrix::GetImageLimits();
  limits.maxPixels = 4 * 1000 * 1000;
  orvex::QZMatrix::SetImageLimits(limits);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  FILE* file = std::fopen(Path().c_str(), "wb");
  if (file == nullptr) return 0;
  std::fwrite(bytes, 1, size, file);
  std::fclose(file);
  char* id = TAV_GetImageHashIdFromFile(Path().c_str(), 0);
  TAV_FreeString(&id);
  int error = -1;
  orvex::QZRef<orvex::QZMatrix> image(orvex::QZMatrix::ReadQZMatrixFromFile(Path().c_str(), &error, orvex::QZLM_COLOUR));
  if (static_cast<bool>(image) != (error == orvex::QZME_OK)) std::abort();
  if (image && image->GetMat().total() > 4u * 1000 * 1000) std::abort();  // the pixel limit held
  return 0;
}
