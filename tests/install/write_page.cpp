// Writes a drawn page as a PNG file, for the installed package's example host to read.
#include "../support/TestScene.h"

#include <opencv2/imgcodecs.hpp>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  return cv::imwrite(argv[1], orvex::testing::DrawBarPage(cv::Size(640, 480))) ? 0 : 1;
}
