// The second level of the cache: results looked up in a store before they are computed,
// restored there without their stage or their parent, and kept there after.
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/SetGroups.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <new>
#include <stdexcept>
#include <mutex>
#include <string>
#include <vector>

namespace orvex {
namespace {

// A store in memory that counts what is asked of it.
class MemoryStore : public ResultStore {
 public:
  bool Load(const StoreKey& key, std::vector<unsigned char>* payload) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto found = m_entries.find(Name(key));
    if (found == m_entries.end()) {
      ++m_statistics.misses;
      return false;
    }
    *payload = found->second;
    ++m_statistics.hits;
    return true;
  }
  void Save(const StoreKey& key, const unsigned char* payload, std::size_t size) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries[Name(key)].assign(payload, payload + size);
    ++m_statistics.writes;
  }
  StoreStatistics Statistics() const override {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statistics;
  }
  void Refused(const StoreKey& key) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.erase(Name(key));
    ++refused;
  }
  // Replaces every stored result of a stage with bytes that are no result, as an entry
  // written by a broken encoder would be: they pass every check a store can make.
  int Spoil(int stage) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int spoiled = 0;
    for (auto& entry : m_entries) {
      if (entry.first.find("#" + std::to_string(stage) + "#") == std::string::npos) continue;
      entry.second.assign(entry.second.size(), 0xee);
      ++spoiled;
    }
    return spoiled;
  }
  int refused = 0;
  // Spoils every stored result of a stage, as a changed stage version would make it unusable.
  int Drop(int stage) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int dropped = 0;
    for (auto entry = m_entries.begin(); entry != m_entries.end();) {
      if (entry->first.find("#" + std::to_string(stage) + "#") != std::string::npos) {
        entry = m_entries.erase(entry);
        ++dropped;
      } else {
        ++entry;
      }
    }
    return dropped;
  }

 private:
  static std::string Name(const StoreKey& key) {
    return key.dataHashId + "#" + std::to_string(key.stage) + "#" + std::to_string(key.codeVersion);
  }
  mutable std::mutex m_mutex;
  std::map<std::string, std::vector<unsigned char>> m_entries;
  StoreStatistics m_statistics;
};

// A store that fails: its loads and saves throw, as one whose memory or disk runs out
// mid-entry does.
class ThrowingStore : public ResultStore {
 public:
  bool Load(const StoreKey&, std::vector<unsigned char>*) override {
    ++loads;
    throw std::bad_alloc();
  }
  void Save(const StoreKey&, const unsigned char*, std::size_t) override {
    ++saves;
    throw std::runtime_error("the disk went away");
  }
  StoreStatistics Statistics() const override { return StoreStatistics(); }
  std::atomic<int> loads{0};
  std::atomic<int> saves{0};
};

class StoreBeneathTheTable : public ::testing::Test {
 protected:
  void SetUp() override { Pool()->SetResultStore(m_store); }
  void TearDown() override { Pool()->SetResultStore(nullptr); }
  static QZParameterTreeAndDataPool* Pool() { return QZParameterTreeAndDataPool::GetInstance(); }

  // What a run of the page through the sets finds, as the tool's line without times and
  // loads; the results it took from the store go to `loaded`.
  std::string Run(const std::vector<hostkit::ParameterSet>& sets, std::vector<int>* computations = nullptr,
                  int* loaded = nullptr) {
    hostkit::SetGroups groups(sets);
    const std::vector<int> before = testing::ComputationCounts();
    std::string why;
    std::unique_ptr<hostkit::ImageInCache> image = groups.Process(QZRef<QZMatrix>(new QZMatrix(m_page.clone())), &why);
    EXPECT_TRUE(image) << why;
    if (!image) return std::string();
    hostkit::ImageSummary summary = image->Summary("page", 0.0);
    if (loaded != nullptr) *loaded = 0;
    for (hostkit::StageFigures& stage : summary.stages) {
      if (loaded != nullptr) *loaded += stage.loaded;
      stage.computeMs = 0;
      stage.loaded = 0;
    }
    if (computations != nullptr) *computations = testing::ComputationsSince(before);
    return hostkit::SummaryJsonLine(summary);
  }

  static int Total(const std::vector<int>& counts) {
    int total = 0;
    for (int count : counts) total += count;
    return total;
  }

  std::shared_ptr<MemoryStore> m_store = std::make_shared<MemoryStore>();
  cv::Mat m_page = testing::DrawBarPage(cv::Size(400, 300));
};

TEST_F(StoreBeneathTheTable, AStoredRunComputesNothingAndFindsWhatTheFirstFound) {
  std::vector<int> cold, warm;
  int loadedCold = -1, loadedWarm = -1;
  const std::string first = Run(hostkit::DefaultParameterSets(), &cold, &loadedCold);
  const StoreStatistics afterCold = m_store->Statistics();
  EXPECT_GT(Total(cold), 50);
  EXPECT_EQ(afterCold.hits, 0u);
  EXPECT_GT(afterCold.writes, 50u);
  EXPECT_EQ(Pool()->GetStatistics().store.writes, afterCold.writes) << "the library's statistics show the store's";

  const std::string second = Run(hostkit::DefaultParameterSets(), &warm, &loadedWarm);
  EXPECT_EQ(second, first);
  EXPECT_EQ(Total(warm), 0) << "every result the run asks for was stored";
  EXPECT_EQ(loadedCold, 0);
  EXPECT_GT(loadedWarm, 0) << "the image's figures name the results taken from the store";
  EXPECT_GT(m_store->Statistics().hits, 0u);
  EXPECT_EQ(m_store->Statistics().writes, afterCold.writes);
}

TEST_F(StoreBeneathTheTable, AStoreThatThrowsNeverFailsAComputationNorChangesItsResult) {
  Pool()->SetResultStore(nullptr);
  const std::string withoutStore = Run(hostkit::DefaultParameterSets());
  auto throwing = std::make_shared<ThrowingStore>();
  Pool()->SetResultStore(throwing);
  std::string withStore;
  EXPECT_NO_THROW(withStore = Run(hostkit::DefaultParameterSets()));
  EXPECT_EQ(withStore, withoutStore);
  EXPECT_GT(throwing->loads.load(), 50);
  EXPECT_GT(throwing->saves.load(), 50);
}

TEST_F(StoreBeneathTheTable, StoredBytesTheStageRefusesAreToldToTheStoreAndComputedAgain) {
  const std::string first = Run(hostkit::DefaultParameterSets());
  const int spoiled = m_store->Spoil(tav::DUST_LINE_SEGMENTS);
  ASSERT_GT(spoiled, 0);
  std::vector<int> computed;
  EXPECT_EQ(Run(hostkit::DefaultParameterSets(), &computed), first);
  EXPECT_EQ(m_store->refused, spoiled);
  EXPECT_EQ(computed[DPK_PROCESS_LINE_SET], spoiled);
  // Computed again and saved again: the next run takes them from the store.
  std::vector<int> again;
  EXPECT_EQ(Run(hostkit::DefaultParameterSets(), &again), first);
  EXPECT_EQ(Total(again), 0);
}

TEST_F(StoreBeneathTheTable, AChangedParameterComputesOnlyTheResultsWhoseIdsChanged) {
  Run(hostkit::DefaultParameterSets());
  std::vector<hostkit::ParameterSet> changed = hostkit::DefaultParameterSets();
  changed.resize(1);
  changed[0].parameters.binarizationModes[0].intArg1 = 21;
  std::vector<int> withStore, fresh;
  const std::string stored = Run(changed, &withStore);
  // The same sets in a cache without a store: what a fresh process computes.
  Pool()->SetResultStore(nullptr);
  const std::string computed = Run(changed, &fresh);
  EXPECT_EQ(stored, computed);
  for (int kind = 0; kind < DPK_COUNT; ++kind) {
    const bool changedStage = kind >= DPK_BINARIZE_ROI_IMAGE;  // binarization and every stage after it
    if (changedStage) EXPECT_EQ(withStore[kind], fresh[kind]) << "stage kind " << kind;
    else EXPECT_EQ(withStore[kind], 0) << "stage kind " << kind << " was stored and is computed again";
  }
}

TEST_F(StoreBeneathTheTable, AResultTheStoreNoLongerHasIsComputedAgainAndNothingElse) {
  const std::string first = Run(hostkit::DefaultParameterSets());
  ASSERT_GT(m_store->Drop(tav::DUST_CANDIDATE_ROIS), 0);
  std::vector<int> again;
  EXPECT_EQ(Run(hostkit::DefaultParameterSets(), &again), first);
  EXPECT_GT(again[DPK_DETECT_ROIS], 0) << "the candidate regions are computed again";
  EXPECT_EQ(again[DPK_PROCESS_LINE_SET], 0) << "the line segments are still stored";
}

}  // namespace
}  // namespace orvex
