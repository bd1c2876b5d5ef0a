// A host of the image-stage cache: loads parameter sets, runs one image through them,
// prints each set's candidate regions and line segments and what the cache did.
//
//   example-host PAGE.png [PARAMS.json]
#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/SetGroups.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

using namespace orvex;

namespace {

void PrintSet(const std::string& name, const std::vector<hostkit::Quad>& regions,
              const std::vector<cv::Vec4f>& segments) {
  std::printf("set %s: %zu candidate regions, %zu line segments\n", name.c_str(), regions.size(), segments.size());
  for (const hostkit::Quad& quad : regions) {
    std::printf("  region");
    for (const cv::Point2f& corner : quad) std::printf(" (%.1f, %.1f)", corner.x, corner.y);
    std::printf("\n");
  }
  const size_t shown = std::min<size_t>(segments.size(), 5);
  for (size_t i = 0; i < shown; ++i) {
    const cv::Vec4f& s = segments[i];
    std::printf("  segment (%.1f, %.1f) - (%.1f, %.1f)\n", s[0], s[1], s[2], s[3]);
  }
  if (segments.size() > shown) std::printf("  ... and %zu more segments\n", segments.size() - shown);
}

void PrintStatistics() {
  const CacheStatistics statistics = QZParameterTreeAndDataPool::GetInstance()->GetStatistics();
  uint64_t computed = 0, adopted = 0;
  for (int stage = stages::kFirstStage; stage <= stages::kLastStage; ++stage) {
    computed += statistics.stages[stage].computations;
    adopted += statistics.stages[stage].adoptedResults;
  }
  std::printf("cache: %llu stage computations, %llu results shared between the sets' trees\n",
              static_cast<unsigned long long>(computed), static_cast<unsigned long long>(adopted));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: example-host PAGE.png [PARAMS.json]\n");
    return 2;
  }
  try {
    // The tool's own default sets, or the sets of a parameter file written by stagecache.
    const std::vector<hostkit::ParameterSet> sets =
        argc == 3 ? hostkit::LoadParameterSets(argv[2]) : hostkit::DefaultParameterSets();
    hostkit::SetGroups groups(sets);

    hostkit::ImageFile file;
    std::string why;
    if (!hostkit::ReadImageFile(argv[1], &file, &why)) {
      std::fprintf(stderr, "%s %s\n", argv[1], why.c_str());
      return 3;
    }
    QZRef<QZMatrix> pixels = hostkit::DecodeImageFile(file, &why);
    std::unique_ptr<hostkit::ImageInCache> image = pixels ? groups.Process(std::move(pixels), &why) : nullptr;
    if (!image) {
      std::fprintf(stderr, "%s: %s\n", argv[1], why.c_str());
      return 3;
    }
    std::printf("%s: image id %s, %d x %d\n", argv[1], image->Id().c_str(), image->Pixels().cols, image->Pixels().rows);
    for (size_t s = 0; s < sets.size(); ++s) PrintSet(sets[s].name, image->Regions(s), image->LineSegments(s));
    PrintStatistics();
    image.reset();  // releases the image from every set's tree
    return 0;
  } catch (const hostkit::ParameterError& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "failed: %s\n", error.what());
    return 1;
  }
}
