// A host built against the installed package only.
#include <OrvexStagecacheHost.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main() {
  std::vector<unsigned char> pixels(16 * 16, 128);
  orvex::core::CImageData image(pixels.data(), 16, 16, 16, orvex::core::IPF_GRAYSCALE_8);
  char* id = TAV_GetImageHashIdFromBuffer(&image);
  orvex::QZRef<orvex::QZMatrix> matrix(new orvex::QZMatrix(3, 3, CV_64FC1, 0, true));
  const bool ok = id != nullptr && std::strlen(id) == 32 && std::strcmp(QZ_GetLibVersion(), "1.0") == 0 &&
                  matrix->GetRefCount() == 1;
  std::printf("consumer: version %s, hash %s\n", QZ_GetLibVersion(), id ? id : "(none)");
  TAV_FreeString(&id);
  return ok ? 0 : 1;
}
