// Writes a folder of distinct drawn pages for throughput runs of the stagecache host:
// orvex-draw-pages COUNT WIDTH HEIGHT FOLDER.
#include "../tests/support/TestScene.h"

#include <opencv2/imgcodecs.hpp>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: orvex-draw-pages COUNT WIDTH HEIGHT FOLDER\n");
    return 2;
  }
  const int count = std::atoi(argv[1]), width = std::atoi(argv[2]), height = std::atoi(argv[3]);
  if (count <= 0 || width < 64 || height < 64) {
    std::fprintf(stderr, "orvex-draw-pages: COUNT must be positive, WIDTH and HEIGHT at least 64\n");
    return 2;
  }
  std::filesystem::create_directories(argv[4]);
  for (int i = 0; i < count; ++i) {
    // A few pixels more per page make every page a different image.
    const cv::Mat page = orvex::testing::DrawBarPage(cv::Size(width + i % 16, height + i / 16));
    char name[32];
    std::snprintf(name, sizeof name, "page-%04d.png", i);
    if (!cv::imwrite((std::filesystem::path(argv[4]) / name).string(), page)) {
      std::fprintf(stderr, "orvex-draw-pages: cannot write %s\n", name);
      return 1;
    }
  }
  return 0;
}
