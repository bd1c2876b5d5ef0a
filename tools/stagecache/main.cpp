// stagecache: runs images through the pipeline with OrvexStagecache and shows what it cached.
#include "Batch.h"
#include "Inputs.h"
#include "Report.h"
#include "Run.h"
#include "explore/ExploreMain.h"

#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>
#include <orvex/foundation/Mutex.h>
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/ProcessPool.h>
#include <orvex/hostkit/SetGroups.h>

#include <opencv2/core.hpp>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>
#include <sys/resource.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <csignal>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace stagecache;
using orvex::hostkit::DefaultParameterSets;
using orvex::hostkit::LoadParameterSets;
using orvex::hostkit::ParameterError;
using orvex::hostkit::WriteParameterSets;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitSkipped = 3;

const char kUsage[] =
    "usage: stagecache [options] [IMAGE|FOLDER ...]\n"
    "       stagecache explore [options] [IMAGE|FOLDER ...]   tune parameter sets live in the\n"
    "                           browser (see stagecache explore --help)\n"
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
    "  --out DIR                write a report to DIR: index.html with the summary and an index\n"
    "                           of the images, a page per image with each set's regions and\n"
    "                           line segments over it (one set or two side by side), and the\n"
    "                           trees as DOT files; a run into the same folder replaces the\n"
    "                           files an earlier report wrote there\n"
    "  --pictures N|all|none    with --out, a picture of every result and the drawn trees for\n"
    "                           the first N images (default 10), every image, or none\n"
    "  --max-pixels N           refuse images of more than N pixels, judged from the file's\n"
    "                           header before decoding (default 100000000)\n"
    "  --jobs N                 work on N images at once, each on its own thread, through one\n"
    "                           shared cache (default: the cores it may use); the results do\n"
    "                           not depend on N. Example: stagecache --jobs 4 pages/\n"
    "  --shard K/N              work only on shard K of N (K from 0 to N-1): every N-th image\n"
    "                           of the sorted input list, starting at the K-th, so that N\n"
    "                           processes or machines share a collection. Example:\n"
    "                           stagecache --shard $JOB_COMPLETION_INDEX/8 --jsonl out.jsonl pages/\n"
    "  --jsonl FILE             write one JSON object per image to FILE ('-': standard output,\n"
    "                           instead of the summary) as each is done: its per-stage\n"
    "                           figures, regions and line segments, or why it was skipped\n"
    "  --store DIR              keep every result in DIR and take results found there instead\n"
    "                           of computing them, so a run after a change of one parameter\n"
    "                           computes only what the change touches; several processes,\n"
    "                           users of one group and machines over a shared volume may share\n"
    "                           DIR. A missing or empty DIR becomes a store (marked by its\n"
    "                           CACHEDIR.TAG); a folder holding other files and no tag is not\n"
    "                           a store: the run warns and goes on without it\n"
    "  --store-limit SIZE       the store's size limit on disk, such as 500M or 20G (default\n"
    "                           10G); the least recently used results go first\n"
    "  --store-encoding E       how new entries are kept: raw (default; fastest to load from\n"
    "                           the page cache), lz4 (a quarter of the bytes) or zstd (a sixth),\n"
    "                           for a shared volume or a small disk; any store reads all three\n"
    "  --store-key FILE         tag every entry with an HMAC-SHA256 under the key in FILE (1 to\n"
    "                           4096 bytes) and take only entries whose tag verifies, so that\n"
    "                           only holders of the key can give this run results\n"
    "  --store-show             with --store: its size and entries, then exit\n"
    "  --store-check            with --store: read every entry, remove the damaged, then exit\n"
    "  --store-clear            with --store: empty it, then exit; these three refuse a folder\n"
    "                           that is not a store, and say what they could not do (exit 1)\n"
    "  --quiet                  no progress on stderr\n"
    "  --version                print the version of the tool and the library, then exit\n"
    "  --help                   show this text\n"
    "\n"
    "workflow: stagecache --store results/ --params params.json pages/   (first run: computes)\n"
    "          edit one parameter in params.json, run the same command again: the summary's\n"
    "          \"store\" line shows the results taken from the store, and only the results\n"
    "          whose parameters changed are computed\n"
    "\n"
    "exit codes: 0 done, 1 output could not be written (or a store command could not do all\n"
    "it should), 2 bad options or parameter file (or --store names no store), 3 no images, or\n"
    "some inputs were skipped (each is named on stderr with the reason)\n";

// The cores this process may run on (its CPU affinity), as nproc counts them.
size_t UsableCores() {
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) == 0) return static_cast<size_t>(std::max(1, CPU_COUNT(&cores)));
  return std::max(1u, std::thread::hardware_concurrency());
}

struct Options {
  std::string paramsFile;
  std::string outDir;
  long long maxPixels = orvex::ImageLimits().maxPixels;
  size_t jobs = UsableCores();
  size_t shardIndex = 0;
  size_t shardCount = 1;
  std::string jsonlFile;
  size_t pictureImages = 10;
  std::string storeDir;
  unsigned long long storeLimit = 10ULL << 30;
  orvex::hostkit::StoreEncoding storeEncoding = orvex::hostkit::StoreOptions().encoding;
  std::string storeKeyFile;
  std::string storeCommand;  // show, check or clear
  bool json = false;
  bool quiet = false;
  bool printDefaults = false;
  bool help = false;
  bool version = false;
  std::vector<std::string> inputs;
};

// A whole number from `low` to `high` spelled in full, into `value`.
bool ParseCount(const std::string& text, long long low, long long high, long long& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text.c_str(), &end, 10);
  return !text.empty() && std::isdigit(static_cast<unsigned char>(text[0])) && *end == '\0' && errno == 0 &&
         value >= low && value <= high;
}

// A size in bytes, with an optional K, M or G (powers of 1024).
bool ParseSize(const std::string& text, unsigned long long& bytes) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long number = std::strtoull(text.c_str(), &end, 10);
  int shift = 0;
  if (*end == 'K' || *end == 'k') shift = 10;
  else if (*end == 'M' || *end == 'm') shift = 20;
  else if (*end == 'G' || *end == 'g') shift = 30;
  if (shift != 0) ++end;
  if (*end != '\0' || errno != 0 || number == 0 || number > (ULLONG_MAX >> shift)) return false;
  bytes = number << shift;
  return true;
}

// "K/N" with 0 <= K < N.
bool ParseShard(const std::string& text, Options& options) {
  const size_t slash = text.find('/');
  long long index = 0, count = 0;
  if (slash == std::string::npos || !ParseCount(text.substr(0, slash), 0, 1000000, index) ||
      !ParseCount(text.substr(slash + 1), 1, 1000000, count) || index >= count)
    return false;
  options.shardIndex = static_cast<size_t>(index);
  options.shardCount = static_cast<size_t>(count);
  return true;
}

// False (after naming the problem in one line) for an unknown option or a missing value.
bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // A value that looks like an option ("-q", "--quiet") is taken for a forgotten value.
    auto value = [&](std::string& target) {
      if (i + 1 >= argc || (argv[i + 1][0] == '-' && (argv[i + 1][1] == '-' || std::isalpha(static_cast<unsigned char>(argv[i + 1][1]))))) {
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
      if (!ParseCount(text, 1, LLONG_MAX, options.maxPixels)) {
        std::cerr << "stagecache: --max-pixels needs a positive whole number, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--jobs") {
      std::string text;
      long long jobs = 0;
      if (!value(text)) return false;
      if (!ParseCount(text, 1, 1024, jobs)) {
        std::cerr << "stagecache: --jobs needs a whole number from 1 to 1024, not '" << text << "'\n";
        return false;
      }
      options.jobs = static_cast<size_t>(jobs);
    } else if (arg == "--shard") {
      std::string text;
      if (!value(text)) return false;
      if (!ParseShard(text, options)) {
        std::cerr << "stagecache: --shard needs K/N with 0 <= K < N, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--store") {
      if (!value(options.storeDir)) return false;
    } else if (arg == "--store-limit") {
      std::string text;
      if (!value(text)) return false;
      if (!ParseSize(text, options.storeLimit)) {
        std::cerr << "stagecache: --store-limit needs a size such as 500M or 20G, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--store-encoding") {
      std::string text;
      if (!value(text)) return false;
      if (!orvex::hostkit::ParseStoreEncoding(text, &options.storeEncoding)) {
        std::cerr << "stagecache: --store-encoding needs raw, lz4 or zstd, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--store-key") {
      if (!value(options.storeKeyFile)) return false;
    } else if (arg == "--store-show" || arg == "--store-check" || arg == "--store-clear") {
      options.storeCommand = arg.substr(8);
    } else if (arg == "--pictures") {
      std::string text;
      long long count = 0;
      if (!value(text)) return false;
      if (text == "all") {
        options.pictureImages = SIZE_MAX;
      } else if (text == "none") {
        options.pictureImages = 0;
      } else if (ParseCount(text, 0, LLONG_MAX, count)) {
        options.pictureImages = static_cast<size_t>(count);
      } else {
        std::cerr << "stagecache: --pictures needs a whole number, all or none, not '" << text << "'\n";
        return false;
      }
    } else if (arg == "--jsonl") {
      if (!value(options.jsonlFile)) return false;
    } else if (arg == "--json") {
      options.json = true;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--print-default-params") {
      options.printDefaults = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "stagecache: unknown option " << arg << "\n";
      return false;
    } else {
      options.inputs.push_back(arg);
    }
  }
  return true;
}

// The store's options from the command line; false (said on stderr) when the key file
// cannot be read.
bool StoreOptionsOf(const Options& options, orvex::hostkit::StoreOptions* storeOptions) {
  storeOptions->limitBytes = options.storeLimit;
  storeOptions->encoding = options.storeEncoding;
  storeOptions->warn = [](const std::string& text) { std::cerr << "stagecache: " << text << "\n"; };
  std::string reason;
  if (!options.storeKeyFile.empty() && !orvex::hostkit::ReadStoreKey(options.storeKeyFile, &storeOptions->key, &reason)) {
    std::cerr << "stagecache: --store-key: " << reason << "\n";
    return false;
  }
  return true;
}

// --store-show, --store-check, --store-clear: on a folder that is a store, and saying
// everything they could not do.
int RunStoreCommand(const Options& options) {
  orvex::hostkit::StoreOptions storeOptions;
  if (!StoreOptionsOf(options, &storeOptions)) return kExitUsage;
  storeOptions.create = false;
  storeOptions.warn = [](const std::string&) {};  // what matters is said below
  orvex::hostkit::FileResultStore store(options.storeDir, storeOptions);
  if (!store.IsStore()) {
    std::cerr << "stagecache: --store-" << options.storeCommand << ": " << store.NotAStore() << "; nothing was done\n";
    return kExitUsage;
  }
  const auto mib = [](uint64_t bytes) { return bytes / 1048576.0; };
  orvex::hostkit::StoreContents contents;
  std::cout << "store " << options.storeDir << ": " << std::fixed << std::setprecision(1);
  if (options.storeCommand == "clear") {
    contents = store.Clear();
    if (contents.problems.empty() && contents.entries + contents.temporary == 0) {
      std::cout << "emptied (" << contents.removed << " files removed)";
    } else {
      std::cout << "not emptied: " << contents.removed << " files removed, " << contents.entries + contents.temporary
                << " files (" << mib(contents.bytes) << " MiB) left";
    }
  } else {
    contents = store.Contents(options.storeCommand == "check");
    std::cout << contents.entries << " entries, " << mib(contents.bytes) << " MiB on disk of " << mib(options.storeLimit)
              << " MiB (the size files count " << mib(contents.counted) << " MiB), " << contents.temporary
              << " temporary files";
    if (options.storeCommand == "check") {
      std::cout << "; " << contents.corrupt << " damaged entries removed";
      if (contents.unverified > 0) std::cout << " (" << contents.unverified << " whose tag did not verify)";
      std::cout << ", " << contents.otherVersion << " entries of another format version left for it";
    }
  }
  std::cout << "\n";
  for (const std::string& problem : contents.problems) std::cerr << "stagecache: " << problem << "\n";
  return contents.problems.empty() ? kExitOk : kExitFailure;
}

// Stops the process on SIGTERM, SIGINT and SIGHUP once what the store has pending is
// added to its size files: a signal thread waits for them (blocked in every other
// thread), flushes the store and ends the process by the same signal.
class StopSignals {
 public:
  StopSignals() {
    sigemptyset(&m_signals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&m_signals, signal);
    if (pthread_sigmask(SIG_BLOCK, &m_signals, nullptr) != 0) return;
    std::thread([this] { Wait(); }).detach();
  }
  // The store to flush when a signal comes; null before it is made and after it goes.
  void Watch(orvex::hostkit::FileResultStore* store) ORVEX_EXCLUDES(m_mutex) {
    orvex::MutexLock lock(m_mutex);
    m_store = store;
  }

 private:
  void Wait() ORVEX_EXCLUDES(m_mutex) {
    int signal = 0;
    while (sigwait(&m_signals, &signal) != 0) {
    }
    {
      orvex::MutexLock lock(m_mutex);
      if (m_store != nullptr) m_store->Flush();
    }
    std::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    raise(signal);
    _exit(128 + signal);
  }

  sigset_t m_signals;
  // m_mutex guards m_store; taken alone.
  orvex::Mutex m_mutex;
  orvex::hostkit::FileResultStore* m_store ORVEX_GUARDED_BY(m_mutex) = nullptr;
};

double PeakMemoryMiB() {
  struct rusage usage {};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024.0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == "explore") return stagecache::explore::ExploreMain(argc - 1, argv + 1);
  // Before any thread is made, so that every thread blocks the signals it waits for.
  static StopSignals stopSignals;
  // The store goes after main (with the pool that holds it): no flush reaches it then.
  struct Unwatch {
    ~Unwatch() { stopSignals.Watch(nullptr); }
  } unwatch;
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "see stagecache --help\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  if (options.version) {
    std::cout << "stagecache " << ORVEX_PROJECT_VERSION << ", libOrvexStagecache " << QZ_GetLibVersion() << "\n";
    return kExitOk;
  }
  if (options.printDefaults) {
    std::cout << WriteParameterSets(DefaultParameterSets());
    return kExitOk;
  }
  if (!options.storeKeyFile.empty() && options.storeDir.empty()) {
    std::cerr << "stagecache: --store-key needs --store DIR\nsee stagecache --help\n";
    return kExitUsage;
  }
  if (!options.storeCommand.empty()) {
    if (options.storeDir.empty()) {
      std::cerr << "stagecache: --store-" << options.storeCommand << " needs --store DIR\nsee stagecache --help\n";
      return kExitUsage;
    }
    return RunStoreCommand(options);
  }

  orvex::hostkit::StoreOptions storeOptions;
  if (!options.storeDir.empty() && !StoreOptionsOf(options, &storeOptions)) return kExitUsage;

  std::vector<ParameterSet> sets = DefaultParameterSets();
  if (!options.paramsFile.empty()) {
    try {
      sets = LoadParameterSets(options.paramsFile);
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
    ClearEarlierReport(options.outDir);
  }

  std::ofstream jsonlFile;
  std::ostream* jsonl = nullptr;
  if (options.jsonlFile == "-") {
    jsonl = &std::cout;
  } else if (!options.jsonlFile.empty()) {
    jsonlFile.open(options.jsonlFile, std::ios::binary);
    if (!jsonlFile) {
      std::cerr << "stagecache: cannot write " << options.jsonlFile << "\n";
      return kExitFailure;
    }
    jsonl = &jsonlFile;
  }
  // OpenCV's own worker threads share the cores with the jobs instead of multiplying them.
  if (options.jobs > 1) cv::setNumThreads(static_cast<int>(std::max<size_t>(1, UsableCores() / options.jobs)));

  std::vector<InputFile> inputs;
  if (options.inputs.empty()) inputs.push_back({"built-in scene", std::string(), true});
  else inputs = ExpandInputs(options.inputs);
  if (options.shardCount > 1) inputs = ShardOf(std::move(inputs), options.shardIndex, options.shardCount);
  if (inputs.empty()) {
    std::cerr << "stagecache: no images: the folders given hold no .png, .jpg or .jpeg files"
              << (options.shardCount > 1 ? " for this shard" : "") << "\n";
    return kExitSkipped;
  }

  const auto start = std::chrono::steady_clock::now();
  Summary summary;
  for (const ParameterSet& set : sets) summary.setNames.push_back(set.name);
  std::vector<std::string> unwritten;
  std::shared_ptr<orvex::hostkit::FileResultStore> store;
  if (!options.storeDir.empty()) {
    store = std::make_shared<orvex::hostkit::FileResultStore>(options.storeDir, storeOptions);
    // A folder that is not a store was warned of: the run goes on without one.
    if (store->IsStore()) orvex::hostkit::InstallResultStore(store);
    else store.reset();
    stopSignals.Watch(store.get());
  }
  {
    orvex::hostkit::SetGroups registry(sets);
    orvex::hostkit::ResetPoolStatistics();
    BatchOptions batch;
    batch.jobs = options.jobs;
    batch.run.outDir = options.outDir;
    batch.pictureImages = options.outDir.empty() ? 0 : options.pictureImages;
    batch.store = store.get();
    auto ready = [&](const Outcome& outcome, size_t done) {
      if (!outcome.processed) std::cerr << "stagecache: skipping " << outcome.name << ": " << outcome.skipReason << "\n";
      if (jsonl != nullptr) {
        *jsonl << OutcomeJsonLine(outcome, store != nullptr ? &*store : nullptr) << "\n";
        jsonl->flush();
      }
      if (options.quiet) return;
      const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      const double rate = elapsed > 0 ? done / elapsed : 0.0;
      std::cerr << "[" << done << "/" << inputs.size() << "] " << outcome.name << ": " << std::fixed << std::setprecision(1)
                << rate << " images/s, " << std::setprecision(0) << (rate > 0 ? (inputs.size() - done) / rate : 0.0)
                << " s left\n";
    };
    for (Outcome& outcome : RunBatch(registry, inputs, batch, ready)) {
      if (outcome.processed) summary.images.push_back(std::move(outcome.view));
      else summary.skipped.push_back(outcome.name + ": " + outcome.skipReason);
    }

    const orvex::CacheStatistics statistics = orvex::hostkit::PoolStatistics();
    summary.stages = StageRows(statistics, registry);
    summary.storeUsed = statistics.storeInstalled;
    summary.store = statistics.store;
    for (const ImageView& image : summary.images) summary.librarySeconds += image.librarySeconds;
    for (const StageRow& row : summary.stages) {
      summary.computedTotal += row.computed;
      summary.loadedTotal += row.loaded;
      summary.reusedTotal += row.adopted;
      summary.computeSeconds += row.computeMs / 1000.0;
    }
    summary.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    summary.peakMemoryMiB = PeakMemoryMiB();
    if (!options.outDir.empty()) unwritten = WriteReportFiles(summary, registry, options.outDir);
  }

  if (jsonl != &std::cout) {
    if (options.json) PrintJson(summary, std::cout);
    else PrintText(summary, std::cout);
  }
  if (jsonlFile.is_open()) {
    jsonlFile.close();
    if (!jsonlFile) unwritten.push_back(options.jsonlFile);
  }
  for (const std::string& file : unwritten) std::cerr << "stagecache: cannot write " << file << "\n";
  if (!unwritten.empty()) return kExitFailure;
  if (!options.outDir.empty() && !options.quiet) std::cerr << "report: " << options.outDir << "/index.html\n";
  return summary.skipped.empty() ? kExitOk : kExitSkipped;
}
