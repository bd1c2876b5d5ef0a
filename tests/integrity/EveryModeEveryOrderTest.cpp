// Equal ids mean equal results, whatever else runs beside: for every mode literal of every
// mode list, a variant of the built-in "standard" set run beside it, listed before or
// after it, one image or two at a time, and through a store, leaves "standard" with
// exactly the results it has alone, on drawn pages and on a photograph.
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/SetGroups.h>

#include "../support/Photographs.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

namespace fs = std::filesystem;

QZParameterTreeAndDataPool* Pool() { return QZParameterTreeAndDataPool::GetInstance(); }

ParameterSet Standard() {
  for (ParameterSet& set : DefaultParameterSets())
    if (set.name == "standard") return set;
  ADD_FAILURE() << "no built-in set named standard";
  return ParameterSet();
}

// What a set found in an image, and a fingerprint of every image result it holds: all
// that "equal results" can mean to a host.
struct SetResults {
  std::string findings;
  std::vector<std::string> images;

};

// Where two runs' results part: the first finding or image result that differs. A run
// that took results from a store computes no image its findings do not need, so with
// `subset` the found image results need only be among the expected ones.
std::string Difference(const SetResults& expected, const SetResults& found, bool subset) {
  if (expected.findings != found.findings) {
    return "regions or segments differ:\n  alone:  " + expected.findings + "\n  beside: " + found.findings;
  }
  if (subset) {
    for (const std::string& image : found.images) {
      if (std::find(expected.images.begin(), expected.images.end(), image) == expected.images.end()) {
        return "an image result alone has not: " + image;
      }
    }
    return std::string();
  }
  for (std::size_t i = 0; i < std::max(expected.images.size(), found.images.size()); ++i) {
    const std::string a = i < expected.images.size() ? expected.images[i] : "(none)";
    const std::string b = i < found.images.size() ? found.images[i] : "(none)";
    if (a != b) return "image result " + std::to_string(i) + " differs:\n  alone:  " + a + "\n  beside: " + b;
  }
  return std::string();
}

SetResults ResultsOf(const ImageInCache& image, std::size_t set) {
  SetResults results;
  ImageSummary summary;
  summary.sets.push_back({"set", image.Regions(set), image.LineSegments(set)});
  results.findings = SummaryJsonLine(summary);
  for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
    for (const StageImage& picture : image.StageImages(set, stage)) {
      const cv::Mat& pixels = picture.pixels;
      std::string row = std::to_string(stage) + " " + picture.id + " " + std::to_string(pixels.cols) + "x" +
                        std::to_string(pixels.rows) + " " + std::to_string(cv::sum(pixels)[0]);
      results.images.push_back(row);
    }
  }
  return results;
}

// The "standard" results of each image when `sets` (holding "standard") process them,
// `jobs` images at a time through one SetGroups.
std::vector<SetResults> StandardResults(const std::vector<ParameterSet>& sets, const std::vector<cv::Mat>& images,
                                        int jobs, int* loaded = nullptr) {
  SetGroups groups(sets);
  const std::size_t standard = groups.IndexOf("standard");
  std::vector<SetResults> results(images.size());
  std::vector<int> loadedPerImage(images.size(), 0);
  const auto process = [&](std::size_t i) {
    std::string why;
    std::unique_ptr<ImageInCache> image = groups.Process(QZRef<QZMatrix>(new QZMatrix(images[i].clone())), &why);
    ASSERT_TRUE(image) << why;
    results[i] = ResultsOf(*image, standard);
    for (const StageFigures& figures : image->Figures()) loadedPerImage[i] += figures.loaded;
  };
  for (std::size_t first = 0; first < images.size(); first += jobs) {
    std::vector<std::thread> workers;
    for (std::size_t i = first; i < std::min(images.size(), first + jobs); ++i) workers.emplace_back(process, i);
    for (std::thread& worker : workers) worker.join();
  }
  if (loaded != nullptr) *loaded = std::accumulate(loadedPerImage.begin(), loadedPerImage.end(), 0);
  return results;
}

// Variants of "standard" whose first record of the list `name` has each mode literal in
// turn, as far as they make a valid set.
std::vector<ParameterSet> VariantsOf(const ParameterSet& standard, const std::string& name, int* refused) {
  std::vector<ParameterSet> variants;
  ParameterSet probe = standard;
  VisitModeLists(probe.parameters, [&](const char* list, auto& records, ModeListRole) {
    if (list != name) return;
    using Record = typename std::decay_t<decltype(records)>::value_type;
    for (const ModeLiteral& literal : ModeLiteralsOf<Record>()) {
      ParameterSet variant = standard;
      variant.name = std::string("variant ") + literal.name;
      VisitModeLists(variant.parameters, [&](const char* other, auto& otherRecords, ModeListRole) {
        if (other != name) return;
        if (otherRecords.empty()) otherRecords.resize(1);
        otherRecords[0].mode = literal.value;
      });
      try {
        // A set the parameter files refuse is no set a host can run.
        ParseParameterSets(WriteParameterSets({variant}), variant.name);
        variants.push_back(variant);
      } catch (const ParameterError&) {
        ++*refused;
      }
    }
  });
  return variants;
}

class EveryModeEveryOrder : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    m_images = {testing::DrawBarPage(cv::Size(480, 360)), testing::ReadPhotograph("coffee.png"),
                testing::DrawBarPage(cv::Size(400, 520))};
    for (const cv::Mat& image : m_images) ASSERT_FALSE(image.empty());
    m_alone = StandardResults({m_standard}, m_images, 1);
    m_folder = fs::path(::testing::TempDir()) / ("every-mode-" + std::string(GetParam()) + "-" + std::to_string(getpid()));
  }
  void TearDown() override {
    Pool()->SetResultStore(nullptr);
    fs::remove_all(m_folder);
  }

  void ExpectStandardAsAlone(const std::vector<SetResults>& found, const std::string& how, bool loaded = false) {
    ASSERT_EQ(found.size(), m_alone.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      const std::string difference = Difference(m_alone[i], found[i], loaded);
      EXPECT_TRUE(difference.empty()) << how << ", image " << i << ": " << difference;
    }
  }

  const ParameterSet m_standard = Standard();
  std::vector<cv::Mat> m_images;
  std::vector<SetResults> m_alone;
  fs::path m_folder;
};

TEST_P(EveryModeEveryOrder, AVariantBesideTheStandardSetLeavesItsResultsAsTheyAreAlone) {
  int refused = 0;
  const std::vector<ParameterSet> variants = VariantsOf(m_standard, GetParam(), &refused);
  ASSERT_FALSE(variants.empty());
  for (const ParameterSet& variant : variants) {
    for (const bool variantFirst : {true, false}) {
      const std::vector<ParameterSet> sets =
          variantFirst ? std::vector<ParameterSet>{variant, m_standard} : std::vector<ParameterSet>{m_standard, variant};
      const std::string how = variant.name + (variantFirst ? " listed first" : " listed second");
      for (const int jobs : {1, 2}) ExpectStandardAsAlone(StandardResults(sets, m_images, jobs), how + ", jobs " + std::to_string(jobs));

      // Through a store: what the pair stored, "standard" alone finds again.
      fs::remove_all(m_folder);
      StoreOptions options;
      options.warn = [](const std::string& warning) { ADD_FAILURE() << warning; };
      Pool()->SetResultStore(std::make_shared<FileResultStore>(m_folder.string(), options));
      ExpectStandardAsAlone(StandardResults(sets, m_images, 2), how + ", storing");
      int loaded = 0;
      ExpectStandardAsAlone(StandardResults({m_standard}, m_images, 1, &loaded), how + ", loaded alone", true);
      EXPECT_GT(loaded, 0) << how << ": nothing came from the store";
      Pool()->SetResultStore(nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(ModeLists, EveryModeEveryOrder,
                         ::testing::Values("colourConversionModes", "grayscaleTransformationModes", "regionPredetectionModes",
                                           "grayscaleEnhancementModes", "binarizationModes", "textureDetectionModes",
                                           "textFilterModes", "lineExtractionModes"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
}  // namespace hostkit
}  // namespace orvex
