// A minimal host: prints the library version and the hash id of an image it draws.
#include <OrvexStagecache.h>

#include <opencv2/imgproc.hpp>

#include <cstdio>

int main() {
  std::printf("OrvexStagecache %s\n", QZ_GetLibVersion());

  cv::Mat page(480, 640, CV_8UC3, cv::Scalar(235, 235, 235));
  for (int i = 0; i < 24; ++i) {
    const int x = 120 + i * 16;
    cv::rectangle(page, cv::Rect(x, 160, (i % 3) + 2, 140), cv::Scalar(20, 20, 20), cv::FILLED);
  }
  orvex::core::CImageData image(page.data, page.cols, page.rows, static_cast<int>(page.step), orvex::core::IPF_BGR_888);
  char* hashId = TAV_GetImageHashIdFromBuffer(&image);
  if (hashId == nullptr) {
    std::fprintf(stderr, "could not hash the drawn image\n");
    return 1;
  }
  std::printf("hash id of a drawn %dx%d page: %s\n", page.cols, page.rows, hashId);
  TAV_FreeString(&hashId);
  return 0;
}
