// What reading image files costs with the libraries' own decoders beside OpenCV's, each
// pair measured in one run:
//
//   orvex_bench_codecs TOOL OPENCV_DECODING PAGES PHOTOS WORK
//
// decodes every file of PAGES (drawn PNG pages) and PHOTOS (photographs and scans, PNG
// and JPEG) in this process with both decoders; then runs the stagecache tool TOOL on all
// of them, cold without a store and warm from a filled one, and its process start
// (--version), each as it is and with OPENCV_DECODING (the library that puts OpenCV's
// decoders back) preloaded, the old path. WORK is an empty scratch folder. Every figure
// is the fastest of its repetitions, old and new alternated. Exits 1 when a goal is missed.
#include <OrvexStagecacheHost.h>

#include <opencv2/imgcodecs.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace orvex;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::vector<unsigned char> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

cv::Mat OpenCvDecode(const unsigned char* bytes, size_t length, int mode) {
  const cv::Mat encoded(1, static_cast<int>(length), CV_8UC1, const_cast<unsigned char*>(bytes));
  return cv::imdecode(encoded, mode == QZLM_GRAYSCALE ? cv::IMREAD_GRAYSCALE : cv::IMREAD_UNCHANGED);
}

// Seconds to decode every file once, the fastest of `rounds`, with the library's decoders
// or OpenCV's.
double DecodeSeconds(const std::vector<std::vector<unsigned char>>& files, bool openCv, int rounds) {
  QZMatrix::SetDecoderForComparison(openCv ? &OpenCvDecode : nullptr);
  double best = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    for (const auto& bytes : files) {
      int error = 0;
      std::unique_ptr<QZMatrix> image(QZMatrix::DecodeImageBytes(bytes.data(), bytes.size(), &error, QZLM_COLOUR));
      if (!image) std::fprintf(stderr, "a file was refused: %s\n", QZMatrix::ErrorText(error));
    }
    best = std::min(best, SecondsSince(start));
  }
  QZMatrix::SetDecoderForComparison(nullptr);
  return best;
}

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The wall time of a shell command, which must succeed.
double RunSeconds(const std::string& command) {
  const Clock::time_point start = Clock::now();
  const int status = std::system(command.c_str());
  const double seconds = SecondsSince(start);
  if (status != 0) {
    std::fprintf(stderr, "failed (%d): %s\n", status, command.c_str());
    std::exit(2);
  }
  return seconds;
}

// The fastest of `rounds` runs of the new command and of the old one, alternated.
std::pair<double, double> BestOfAlternated(const std::string& newer, const std::string& older, int rounds) {
  double bestNew = 1e9, bestOld = 1e9;
  for (int round = 0; round < rounds; ++round) {
    bestNew = std::min(bestNew, RunSeconds(newer));
    bestOld = std::min(bestOld, RunSeconds(older));
  }
  return {bestNew, bestOld};
}

bool g_missed = false;

void PrintRow(const std::string& figure, double measured, double baseline, const std::string& goal, bool met, bool ratio = true) {
  if (ratio) {
    std::printf("%-58s %9.3f s %9.3f s %7.2f x  %-10s %s\n", figure.c_str(), measured, baseline, measured / baseline,
                goal.c_str(), met ? "met" : "MISSED");
  } else {
    std::printf("%-58s %9.1f ms %9.1f ms %7s    %-10s %s\n", figure.c_str(), measured * 1e3, baseline * 1e3, "",
                goal.c_str(), met ? "met" : "MISSED");
  }
  g_missed = g_missed || !met;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: orvex_bench_codecs TOOL OPENCV_DECODING PAGES PHOTOS WORK\n");
    return 2;
  }
  const std::string tool = argv[1], shim = argv[2];
  const fs::path pages = argv[3], photos = argv[4], work = argv[5];
  std::vector<std::vector<unsigned char>> pagePngs, photoPngs, photoJpegs;
  std::string files;
  for (const fs::path& folder : {pages, photos}) {
    std::vector<fs::path> paths;
    for (const auto& entry : fs::directory_iterator(folder)) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    for (const fs::path& path : paths) {
      const std::string extension = path.extension().string();
      if (extension != ".png" && extension != ".jpg") continue;
      (folder == pages ? pagePngs : extension == ".png" ? photoPngs : photoJpegs).push_back(ReadBytes(path));
      files += " " + Quoted(path.string());
    }
  }
  std::printf("%-58s %11s %11s %9s  %-10s\n", "figure (new, old: OpenCV's decoders)", "new", "old", "new/old", "goal");
  const auto decodeRow = [](const char* what, const std::vector<std::vector<unsigned char>>& set, double goal) {
    const double ours = DecodeSeconds(set, false, 5), theirs = DecodeSeconds(set, true, 5);
    char figure[128];
    std::snprintf(figure, sizeof figure, "decode %zu %s", set.size(), what);
    char goalText[32];
    std::snprintf(goalText, sizeof goalText, "<= %.2f x", goal);
    PrintRow(figure, ours, theirs, goalText, ours / theirs <= goal);
  };
  decodeRow("drawn 2-MP PNG pages", pagePngs, 1 / 1.5);
  decodeRow("PNG photographs and scans", photoPngs, 1 / 1.5);
  decodeRow("JPEG photographs", photoJpegs, 1.0);

  const std::string preload = "LD_PRELOAD=" + Quoted(shim) + " ";
  const std::string run = Quoted(tool) + " --quiet --jobs 1" + files + " >/dev/null";
  const auto cold = BestOfAlternated(run, preload + run, 3);
  PrintRow("stagecache --jobs 1, pages and photographs, no store", cold.first, cold.second, "<= 0.70 x", cold.first / cold.second <= 0.7);
  const std::string store = " --store " + Quoted((work / "store").string());
  RunSeconds(Quoted(tool) + " --quiet --jobs 1" + store + files + " >/dev/null");  // fills the store
  const std::string warm = Quoted(tool) + " --quiet --jobs 1" + store + files + " >/dev/null";
  const auto warmRuns = BestOfAlternated(warm, preload + warm, 3);
  PrintRow("the same, every result stored", warmRuns.first, warmRuns.second, "<= 0.50 x", warmRuns.first / warmRuns.second <= 0.5);
  const std::string version = Quoted(tool) + " --version >/dev/null";
  const auto start = BestOfAlternated(version, preload + version, 20);
  PrintRow("process start: stagecache --version", start.first, start.second, "< 40 ms", start.first < 0.040, false);
  return g_missed ? 1 : 0;
}
