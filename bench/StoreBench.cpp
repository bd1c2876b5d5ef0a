// The result store's figures on a folder of drawn pages, each pair measured in one run:
//
//   orvex_bench_store TOOL PAGES WORK
//
// runs the stagecache tool on PAGES cold without a store, cold with an empty store and
// warm on the filled one (results compared), the same with a store key, then with one
// set's binarization block size changed; then, in this process, measures what a stored
// hit costs beside reading its file and checksumming it, and the bytes and load time of
// every payload encoding, raw and lz4 with a key too. WORK is an empty scratch folder.
// Exits 1 when a target is missed.
#include <OrvexStagecacheHost.h>
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/SetGroups.h>

#include <fcntl.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace orvex;
using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// One run of the tool: its wall time as this process saw it, its JSON summary, and what it
// found per image (every set's regions and line segments).
struct ToolRun {
  double wallSeconds = 0;
  Json summary;
  std::map<std::string, Json> found;

  double StageSeconds() const { return summary["totals"]["computeSeconds"].get<double>(); }
  uint64_t StageTotal(const char* figure) const {
    uint64_t total = 0;
    for (const Json& stage : summary["stages"]) total += stage[figure].get<uint64_t>();
    return total;
  }
  uint64_t Computed(int stage) const { return summary["stages"][stage - 1]["computed"].get<uint64_t>(); }
};

class Bench {
 public:
  Bench(std::string tool, fs::path pages, fs::path work) : m_tool(std::move(tool)), m_pages(std::move(pages)), m_work(std::move(work)) {}

  ToolRun Run(const std::string& name, const std::string& options) {
    const fs::path json = m_work / (name + ".json"), jsonl = m_work / (name + ".jsonl");
    const std::string command = Quoted(m_tool) + " --quiet --json --jsonl " + Quoted(jsonl.string()) + " " + options + " " +
                                Quoted(m_pages.string()) + " > " + Quoted(json.string());
    const Clock::time_point start = Clock::now();
    const int status = std::system(command.c_str());
    ToolRun run;
    run.wallSeconds = SecondsSince(start);
    if (status != 0) throw std::runtime_error("the tool failed: " + command);
    run.summary = Json::parse(ReadText(json));
    std::istringstream lines(ReadText(jsonl));
    for (std::string line; std::getline(lines, line);) {
      const Json image = Json::parse(line);
      run.found[image["image"].get<std::string>()] = image["sets"];
    }
    return run;
  }

  // The wall time of a run that writes nothing but its results, as a user runs it.
  double Time(const std::string& options) {
    const std::string command = Quoted(m_tool) + " --quiet " + options + " " + Quoted(m_pages.string()) + " > /dev/null";
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) throw std::runtime_error("the tool failed: " + command);
    return SecondsSince(start);
  }

  // The options of a store in the work folder; with `keyed`, the bench's key too.
  std::string StoreOption(const std::string& name, bool keyed = false) const {
    return "--store " + Quoted((m_work / name).string()) +
           (keyed ? " --store-key " + Quoted((m_work / "bench.key").string()) : std::string());
  }
  const fs::path& Work() const { return m_work; }
  const fs::path& Pages() const { return m_pages; }
  const std::string& Tool() const { return m_tool; }

 private:
  std::string m_tool;
  fs::path m_pages, m_work;
};

// A line of the table: figure, measured, target and whether it is met.
class Table {
 public:
  void Row(const std::string& figure, const std::string& measured, const std::string& target = "", bool met = true) {
    std::printf("%-62s %24s  %-10s %s\n", figure.c_str(), measured.c_str(), target.c_str(),
                target.empty() ? "" : (met ? "met" : "MISSED"));
    if (!met) m_missed = true;
  }
  bool Missed() const { return m_missed; }

 private:
  bool m_missed = false;
};

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// Passes every call to a file store and keeps each saved payload with its key.
class RecordingStore : public ResultStore {
 public:
  explicit RecordingStore(std::shared_ptr<hostkit::FileResultStore> inner) : m_inner(std::move(inner)) {}

  bool Load(const StoreKey& key, std::vector<unsigned char>* payload) override { return m_inner->Load(key, payload); }
  void Save(const StoreKey& key, const unsigned char* payload, std::size_t size) override {
    m_inner->Save(key, payload, size);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_saved.emplace_back(key, std::vector<unsigned char>(payload, payload + size));
  }
  StoreStatistics Statistics() const override { return m_inner->Statistics(); }

  std::vector<std::pair<StoreKey, std::vector<unsigned char>>> Saved() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_saved;
  }

 private:
  std::shared_ptr<hostkit::FileResultStore> m_inner;
  std::mutex m_mutex;
  std::vector<std::pair<StoreKey, std::vector<unsigned char>>> m_saved;
};

// Every payload the pages' default sets save into `store`, an empty one: all their results.
std::vector<std::pair<StoreKey, std::vector<unsigned char>>> SavedPayloads(const fs::path& pages,
                                                                           std::shared_ptr<hostkit::FileResultStore> store) {
  auto recording = std::make_shared<RecordingStore>(std::move(store));
  QZParameterTreeAndDataPool* pool = QZParameterTreeAndDataPool::GetInstance();
  pool->SetResultStore(recording);
  {
    hostkit::SetGroups sets(hostkit::DefaultParameterSets());
    for (const fs::directory_entry& entry : fs::directory_iterator(pages)) {
      hostkit::ImageFile file;
      std::string why;
      if (!hostkit::ReadImageFile(entry.path().string(), &file, &why)) throw std::runtime_error(why);
      std::unique_ptr<hostkit::ImageInCache> image = sets.Process(hostkit::DecodeImageFile(file, &why), &why);
      if (!image) throw std::runtime_error(entry.path().string() + ": " + why);
    }
  }
  pool->SetResultStore(nullptr);
  return recording->Saved();
}

// Reads a whole file and checksums it as a hit does: the floor under a hit's cost.
uint64_t ReadAndChecksum(const std::string& path, std::vector<unsigned char>& buffer) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  struct stat status;
  ::fstat(fd, &status);
  buffer.resize(static_cast<std::size_t>(status.st_size));
  std::size_t done = 0;
  while (done < buffer.size()) {
    const ssize_t got = ::read(fd, buffer.data() + done, buffer.size() - done);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return XXH3_64bits(buffer.data(), done);
}

uint64_t EntryBytes(const fs::path& folder) {
  uint64_t bytes = 0;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".entry") bytes += entry.file_size();
  }
  return bytes;
}

// The best of three rounds of `round`, in seconds.
template <class Round>
double BestOfThree(Round round) {
  double best = 1e30;
  for (int i = 0; i < 3; ++i) {
    const Clock::time_point start = Clock::now();
    round();
    best = std::min(best, SecondsSince(start));
  }
  return best;
}

int Main(const std::string& tool, const fs::path& pages, const fs::path& work) {
  Bench bench(tool, pages, work);
  Table table;
  std::size_t pageCount = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(pages)) pageCount += entry.is_regular_file() ? 1 : 0;
  std::printf("%zu pages in %s\n", pageCount, pages.c_str());

  // Figures from runs that write their JSON; wall times from runs that write only their
  // results (the JSON summary of 40 pages alone takes longer than a warm run): cold runs
  // without and with an empty store alternated and the fastest of three taken, then warm.
  std::ofstream(work / "bench.key", std::ios::binary) << "the bench's store key, 32 bytes..";
  ToolRun coldPlain = bench.Run("cold", "");
  ToolRun coldStored = bench.Run("cold-store", bench.StoreOption("store"));
  const ToolRun warm = bench.Run("warm", bench.StoreOption("store"));
  bench.Run("cold-keyed", bench.StoreOption("keyed", true));
  const ToolRun warmKeyed = bench.Run("warm-keyed", bench.StoreOption("keyed", true));
  double coldKeyedSeconds = 1e30;
  coldPlain.wallSeconds = coldStored.wallSeconds = 1e30;
  for (int round = 1; round <= 3; ++round) {
    coldPlain.wallSeconds = std::min(coldPlain.wallSeconds, bench.Time(""));
    coldStored.wallSeconds =
        std::min(coldStored.wallSeconds, bench.Time(bench.StoreOption("timed-store-" + std::to_string(round))));
    coldKeyedSeconds = std::min(coldKeyedSeconds, bench.Time(bench.StoreOption("timed-keyed-" + std::to_string(round), true)));
  }
  const double warmSeconds = std::min(bench.Time(bench.StoreOption("store")), bench.Time(bench.StoreOption("store")));
  const double warmKeyedSeconds =
      std::min(bench.Time(bench.StoreOption("keyed", true)), bench.Time(bench.StoreOption("keyed", true)));

  table.Row("cold run without a store, wall s", Format("%.3f", coldPlain.wallSeconds));
  table.Row("cold run with an empty store / without", Format("%.3f", coldStored.wallSeconds / coldPlain.wallSeconds), "<= 1.10",
            coldStored.wallSeconds <= 1.10 * coldPlain.wallSeconds);
  table.Row("cold run with an empty keyed store / without", Format("%.3f", coldKeyedSeconds / coldPlain.wallSeconds));
  table.Row("warm keyed run: results equal the cold run's, computations",
            std::string(warmKeyed.found == coldPlain.found ? "yes" : "NO") + ", " +
                std::to_string(warmKeyed.StageTotal("computed")),
            "yes, 0", warmKeyed.found == coldPlain.found && warmKeyed.StageTotal("computed") == 0);
  table.Row("warm keyed / cold wall time", Format("%.3f", warmKeyedSeconds / coldPlain.wallSeconds));
  table.Row("warm run: results equal the cold run's", warm.found == coldPlain.found ? "yes" : "NO", "yes",
            warm.found == coldPlain.found);
  table.Row("warm run: stage computations", std::to_string(warm.StageTotal("computed")) + " (loaded " +
                                                std::to_string(warm.StageTotal("loaded")) + ")");
  const double stageShare = warm.StageSeconds() / coldPlain.StageSeconds();
  table.Row("warm / cold time in the stages", Format("%.4f", stageShare), "< 0.05", stageShare < 0.05);
  const double wallShare = warmSeconds / coldPlain.wallSeconds;
  table.Row("warm / cold wall time", Format("%.3f", wallShare), "<= 0.25", wallShare <= 0.25);
  const double library = warm.summary["totals"]["librarySeconds"].get<double>();
  const double toolWall = warm.summary["totals"]["wallSeconds"].get<double>();
  table.Row("warm run: process wall s / tool's own wall s", Format("%.3f", warmSeconds) + " / " + Format("%.3f", toolWall));
  table.Row("warm run: in the library (loads included), summed over threads s", Format("%.3f", library));

  // One set's binarization block size changed: what the run computes against what a fresh
  // process computes for that set alone, at binarization and after (the changed ids).
  Json parameters = Json::parse([&] {
    const fs::path defaults = work / "defaults.json";
    if (std::system((Quoted(tool) + " --print-default-params > " + Quoted(defaults.string())).c_str()) != 0) {
      throw std::runtime_error("the tool wrote no parameters");
    }
    return ReadText(defaults);
  }());
  Json& changedSet = parameters["parameterSets"][0];
  changedSet["binarizationModes"][0]["intArg1"] = 21;
  std::ofstream(work / "changed-params.json") << parameters.dump(2);
  std::ofstream(work / "changed-set-only-params.json") << Json{{"parameterSets", Json::array({changedSet})}}.dump(2);
  const ToolRun changed = bench.Run("changed", bench.StoreOption("store") + " --params " + Quoted((work / "changed-params.json").string()));
  const ToolRun fresh = bench.Run("changed-fresh", "--params " + Quoted((work / "changed-set-only-params.json").string()));
  bool exact = true;
  uint64_t expected = 0;
  for (int stage = 1; stage <= 23; ++stage) {
    const uint64_t wanted = stage >= tav::DUST_ROI_BINARY_IMAGE ? fresh.Computed(stage) : 0;
    expected += wanted;
    exact = exact && changed.Computed(stage) == wanted;
  }
  table.Row("changed block size: computed / fresh process for those nodes",
            std::to_string(changed.StageTotal("computed")) + " / " + std::to_string(expected), "equal", exact);
  table.Row("changed block size: loaded from the store", std::to_string(changed.StageTotal("loaded")));

  // In this process: a hit against reading and checksumming its file, page cache warm.
  auto store = std::make_shared<hostkit::FileResultStore>((work / "recorded").string());
  const std::vector<std::pair<StoreKey, std::vector<unsigned char>>> payloads = SavedPayloads(pages, store);
  std::vector<std::string> paths;
  for (const auto& stored : payloads) paths.push_back(store->EntryPath(stored.first));
  std::vector<unsigned char> buffer;
  uint64_t sink = 0;
  const double hits = BestOfThree([&] {
    for (const auto& stored : payloads) sink += store->Load(stored.first, &buffer) ? buffer.size() : 0;
  });
  const double reads = BestOfThree([&] {
    for (const std::string& path : paths) sink += ReadAndChecksum(path, buffer);
  });
  table.Row("stored hits: " + std::to_string(payloads.size()) + " loads / read + checksum of their files",
            Format("%.3f", hits / reads), "<= 1.5", hits <= 1.5 * reads);

  // Each encoding, and raw with a key: bytes on disk per page and load time per page.
  struct Variant {
    const char* name;
    hostkit::StoreEncoding encoding;
    const char* key;
  };
  for (const Variant& variant : {Variant{"raw", hostkit::StoreEncoding::kRaw, ""},
                                 Variant{"lz4", hostkit::StoreEncoding::kLz4, ""},
                                 Variant{"zstd", hostkit::StoreEncoding::kZstd, ""},
                                 Variant{"raw, keyed", hostkit::StoreEncoding::kRaw, "the bench's store key"},
                                 Variant{"lz4, keyed", hostkit::StoreEncoding::kLz4, "the bench's store key"}}) {
    const std::string name = variant.name;
    hostkit::StoreOptions options;
    options.encoding = variant.encoding;
    options.key = variant.key;
    std::string folderName = "encoding-" + name;
    std::replace(folderName.begin(), folderName.end(), ',', '-');
    std::replace(folderName.begin(), folderName.end(), ' ', '-');
    const fs::path folder = work / folderName;
    hostkit::FileResultStore encoded(folder.string(), options);
    const Clock::time_point start = Clock::now();
    for (const auto& stored : payloads) encoded.Save(stored.first, stored.second.data(), stored.second.size());
    const double saving = SecondsSince(start);
    const double loading = BestOfThree([&] {
      for (const auto& stored : payloads) sink += encoded.Load(stored.first, &buffer) ? buffer.size() : 0;
    });
    // The same hits against reading and checksumming this encoding's files: with raw bytes
    // the ratio is the store's own cost, with the others it adds decoding.
    const double encodedReads = BestOfThree([&] {
      for (const auto& stored : payloads) sink += ReadAndChecksum(encoded.EntryPath(stored.first), buffer);
    });
    table.Row(std::string(name) + ": MB/page on disk, ms/page save / load, load / read+sum",
              Format("%.3f", EntryBytes(folder) / 1e6 / static_cast<double>(pageCount)) + ", " +
                  Format("%.2f", 1e3 * saving / static_cast<double>(pageCount)) + " / " +
                  Format("%.2f", 1e3 * loading / static_cast<double>(pageCount)) + ", " +
                  Format("%.2f", loading / encodedReads));
  }
  if (sink == 0) std::printf("(nothing was loaded)\n");
  return table.Missed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: orvex_bench_store TOOL PAGES WORK\n");
    return 2;
  }
  try {
    return Main(argv[1], argv[2], argv[3]);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "orvex_bench_store: %s\n", failure.what());
    return 2;
  }
}
