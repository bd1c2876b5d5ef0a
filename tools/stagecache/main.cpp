// stagecache: runs images through the pipeline with OrvexStagecache and shows what it cached.
#include "ParameterFile.h"
#include "Report.h"
#include "Run.h"
#include "Scene.h"

#include <OrvexStagecacheHost.h>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace stagecache;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 3;

const char kUsage[] =
    "usage: stagecache [options] [IMAGE|FOLDER ...]\n"
    "\n"
    "Runs every image through the image pipeline with the OrvexStagecache library, once per\n"
    "parameter set, and reports per stage how many results were computed and how many were\n"
    "shared between the parameter sets' trees. Without images it runs on a built-in scene.\n"
    "Folders contribute their .png, .jpg and .jpeg files.\n"
    "\n"
    "options:\n"
    "  --params FILE            read the parameter sets from a JSON file (default: two built-in\n"
    "                           sets that overlap; see --print-default-params)\n"
    "  --print-default-params   write the built-in parameter sets as JSON and exit\n"
    "  --json                   write the summary as JSON instead of a table\n"
    "  --out DIR                write every image result as PNG, the regions and line segments\n"
    "                           drawn on each source, a DOT file of each tree and index.html\n"
    "  --max-pixels N           refuse images of more than N pixels, judged from the file's\n"
    "                           header before decoding (default 100000000)\n"
    "  --quiet                  no progress on stderr\n"
    "  --help                   show this text\n"
    "\n"
    "exit codes: 0 done, 1 output could not be written, 2 bad options or parameter file,\n"
    "3 done but some inputs were skipped (each is named on stderr with the reason)\n";

struct Options {
  std::string paramsFile;
  std::string outDir;
  long long maxPixels = orvex::ImageLimits().maxPixels;
  bool json = false;
  bool quiet = false;
  bool printDefaults = false;
  bool help = false;
  std::vector<std::string> inputs;
};

// False (after naming the problem) for an unknown option or a missing value.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc) {
        std::cerr << "stagecache: " << arg << " needs a value\n";
        return false;
      }
      target = argv[++i];
      return true;
    };
    if (arg == "--params") {
      if (!value(options.paramsFile)) return false;
    } else if (arg == "--out") {
      if (!value(options.outDir)) return false;
    } else if (arg == "--max-pixels") {
      std::string text;
      if (!value(text)) return false;
      char* end = nullptr;
      errno = 0;
      options.maxPixels = std::strtoll(text.c_str(), &end, 10);
      if (text.empty() || *end != '\0' || errno != 0 || options.maxPixels <= 0) {
        std::cerr << "stagecache: --max-pixels needs a positive whole number, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--print-default-params") {
      options.printDefaults = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "stagecache: unknown option " << arg << "\n";
      return false;
    } else {
      options.inputs.push_back(arg);
    }
  }
  return true;
}

bool IsImageName(const std::filesystem::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  return extension == ".png" || extension == ".jpg" || extension == ".jpeg";
}

// Why a folder entry named like an image is no file to read, or empty when it is one.
std::string EntryProblem(const std::filesystem::directory_entry& entry) {
  std::error_code error;
  if (entry.is_symlink(error)) {
    const std::filesystem::file_status target = std::filesystem::status(entry.path(), error);
    (void)target;
    if (error == std::errc::too_many_symbolic_link_levels) return "is a symbolic link in a loop";
    if (error) return "is a symbolic link to nothing";
  }
  if (!entry.is_regular_file(error)) return "is not a regular file";
  return std::string();
}

// The files the inputs name: files as given, folders by their image files in name order.
// Entries of a folder that are named like images but cannot be read as files (dangling
// links, link loops, folders) are added to `skipped` with the reason.
std::vector<std::string> ExpandInputs(const std::vector<std::string>& inputs, std::vector<std::string>& skipped) {
  std::vector<std::string> files;
  for (const std::string& input : inputs) {
    std::error_code error;
    if (std::filesystem::is_directory(input, error)) {
      std::vector<std::string> found;
      for (const auto& entry : std::filesystem::directory_iterator(input, error)) {
        if (!IsImageName(entry.path())) continue;
        const std::string problem = EntryProblem(entry);
        if (problem.empty()) found.push_back(entry.path().string());
        else skipped.push_back(entry.path().string() + ": " + problem);
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    } else {
      files.push_back(input);
    }
  }
  std::sort(skipped.begin(), skipped.end());
  return files;
}

double PeakMemoryMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << kUsage;
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  if (options.printDefaults) {
    std::cout << WriteParameterSets(DefaultParameterSets());
    return kExitOk;
  }

  std::vector<ParameterSet> sets = DefaultParameterSets();
  if (!options.paramsFile.empty()) {
    try {
      sets = ParseParameterSets(ReadParameterFile(options.paramsFile), options.paramsFile);
    } catch (const ParameterError& error) {
      std::cerr << "stagecache: " << error.what() << "\n";
      return kExitUsage;
    }
  }
  orvex::ImageLimits limits = orvex::QZMatrix::GetImageLimits();
  limits.maxPixels = options.maxPixels;
  orvex::QZMatrix::SetImageLimits(limits);
  if (!options.outDir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.outDir, error);
    if (!std::filesystem::is_directory(options.outDir)) {
      std::cerr << "stagecache: cannot create the output folder " << options.outDir << "\n";
      return kExitFailure;
    }
  }

  const auto start = std::chrono::steady_clock::now();
  Summary summary;
  std::vector<std::string> unwritten;
  {
    GroupRegistry registry(sets);
    orvex::QZParameterTreeAndDataPool::GetInstance()->ResetStatistics();
    RunOptions runOptions;
    runOptions.outDir = options.outDir;

    std::vector<std::string> files = ExpandInputs(options.inputs, summary.skipped);
    for (const std::string& skipped : summary.skipped) std::cerr << "stagecache: skipping " << skipped << "\n";
    const size_t total = options.inputs.empty() ? 1 : files.size();
    auto progress = [&](size_t index, const std::string& name) {
      if (options.quiet) return;
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      std::cerr << "[" << index << "/" << total << "] " << name << " (" << std::fixed << std::setprecision(1) << elapsed
                << " s)\n";
    };
    if (options.inputs.empty()) {
      progress(1, "built-in scene");
      summary.images.push_back(ProcessImage(registry, "built-in scene", DrawDefaultScene(), runOptions));
    }
    for (size_t i = 0; i < files.size(); ++i) {
      progress(i + 1, files[i]);
      int error = 0;
      orvex::QZRef<orvex::QZMatrix> image(orvex::QZMatrix::ReadQZMatrixFromFile(files[i].c_str(), &error, orvex::QZLM_COLOUR));
      if (!image) {
        const std::string reason = orvex::QZMatrix::ErrorText(error);
        std::cerr << "stagecache: skipping " << files[i] << ": " << reason << "\n";
        summary.skipped.push_back(files[i] + ": " + reason);
        continue;
      }
      if (std::min(image->GetMat().rows, image->GetMat().cols) < 8) {
        std::cerr << "stagecache: skipping " << files[i] << ": smaller than 8 x 8 pixels\n";
        summary.skipped.push_back(files[i] + ": smaller than 8 x 8 pixels");
        continue;
      }
      summary.images.push_back(ProcessImage(registry, files[i], image->GetMat(), runOptions));
    }

    const orvex::CacheStatistics statistics = orvex::QZParameterTreeAndDataPool::GetInstance()->GetStatistics();
    summary.stages = StageRows(statistics, registry);
    for (const ImageView& image : summary.images) summary.librarySeconds += image.librarySeconds;
    for (const StageRow& row : summary.stages) {
      summary.computedTotal += row.computed;
      summary.reusedTotal += row.adopted;
      summary.computeSeconds += row.computeMs / 1000.0;
    }
    summary.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    summary.peakMemoryMiB = PeakMemoryMiB();
    if (!options.outDir.empty()) unwritten = WriteReportFiles(summary, registry, options.outDir);
  }

  if (options.json) PrintJson(summary, std::cout);
  else PrintText(summary, std::cout);
  for (const std::string& file : unwritten) std::cerr << "stagecache: cannot write " << file << "\n";
  if (!unwritten.empty()) return kExitFailure;
  if (!options.outDir.empty() && !options.quiet) std::cerr << "report: " << options.outDir << "/index.html\n";
  return summary.skipped.empty() ? kExitOk : kExitSkipped;
}
