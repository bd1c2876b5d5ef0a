#include "Photographs.h"

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>

namespace orvex {
namespace testing {

std::string PhotographPath(const std::string& name) {
  const std::filesystem::path path = std::filesystem::path(ORVEX_PHOTOS_DIR) / name;
  if (!std::filesystem::is_regular_file(path)) {
    ADD_FAILURE() << path << " is missing: run scripts/fetch-photos.sh (the test command does)";
  }
  return path.string();
}

cv::Mat ReadPhotograph(const std::string& name) { return cv::imread(PhotographPath(name), cv::IMREAD_COLOR); }

const std::vector<std::string>& PhotographNames() {
  static const std::vector<std::string> names = {
      "astronaut.png", "chelsea.png",   "coffee.png",     "motorcycle_left.png", "ihc.png",
      "camera.png",    "coins.png",     "moon.png",       "page.png",            "text.png",
      "bw_text.png",   "hubble_deep_field.jpg", "retina.jpg", "rocket.jpg",      "horse.png",
      "logo.png",      "green_palette.png",     "chessboard_RGB.png"};
  return names;
}

}  // namespace testing
}  // namespace orvex
