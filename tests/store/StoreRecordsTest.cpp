// What a store remembers of input files (which image a file's bytes decode to), and what
// a wrong record may and may not do: a record its file contradicts is replaced and the
// image runs under its real id; with a key, a record nobody with the key wrote is unused.
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ImageFiles.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/SetGroups.h>
#include <orvex/hashing/HashId.h>
#include <orvex/improc/ImageCodecs.h>

#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <opencv2/core/version.hpp>
#include <opencv2/imgcodecs.hpp>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

namespace fs = std::filesystem;

QZParameterTreeAndDataPool* Pool() { return QZParameterTreeAndDataPool::GetInstance(); }

// An image's findings in every set, as the tool's --jsonl line has them.
std::string Findings(const ImageInCache& image) {
  ImageSummary summary = image.Summary("page", 0.0);
  summary.stages.clear();
  summary.width = summary.height = 0;  // a known image's size is its file's, whatever the record says
  return SummaryJsonLine(summary);
}

// Whether two findings are equal; when not, says which images they are of.
::testing::AssertionResult Same(const std::string& found, const std::string& expected) {
  if (found == expected) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "found " << found.substr(0, 60) << "... where " << expected.substr(0, 60)
                                       << "... was expected";
}

class StoreRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("records-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_a = (m_dir / "a.png").string();
    m_b = (m_dir / "b.png").string();
    ASSERT_TRUE(cv::imwrite(m_a, testing::DrawBarPage(cv::Size(420, 320))));
    ASSERT_TRUE(cv::imwrite(m_b, testing::DrawBarPage(cv::Size(380, 300))));
    // What each page gives without a store.
    SetGroups sets(DefaultParameterSets());
    for (const std::string& path : {m_a, m_b}) {
      PreparedImage image;
      std::string why;
      ASSERT_TRUE(PrepareImageFile(path, nullptr, &image, &why)) << why;
      m_ids.push_back(image.Id());
      std::unique_ptr<ImageInCache> processed = sets.Process(std::move(image), &why);
      ASSERT_TRUE(processed) << why;
      m_expected.push_back(Findings(*processed));
    }
    ASSERT_NE(m_ids[0], m_ids[1]);
  }
  void TearDown() override {
    Pool()->SetResultStore(nullptr);
    fs::remove_all(m_dir);
  }

  StoreOptions Quiet(const std::string& key = std::string()) {
    StoreOptions options;
    options.key = key;
    options.warn = [this](const std::string& text) { m_warnings.push_back(text); };
    return options;
  }
  // Runs a file through the default sets with `store` installed; its findings, and
  // whether the file was known by a record.
  std::string Run(const std::shared_ptr<FileResultStore>& store, const std::string& path, bool* known = nullptr) {
    Pool()->SetResultStore(store);
    SetGroups sets(DefaultParameterSets());
    PreparedImage image;
    std::string why;
    EXPECT_TRUE(PrepareImageFile(path, store.get(), &image, &why)) << why;
    if (known != nullptr) *known = !image.knownId.empty();
    std::unique_ptr<ImageInCache> processed = sets.Process(std::move(image), &why);
    EXPECT_TRUE(processed) << why;
    std::string findings = processed ? Findings(*processed) : std::string();
    processed.reset();
    Pool()->SetResultStore(nullptr);
    return findings;
  }
  // The record key of a file.
  static std::string RecordKeyOf(const std::string& path) {
    ImageFile file;
    std::string why;
    EXPECT_TRUE(ReadImageFile(path, &file, &why)) << why;
    return FileContentKey(file);
  }

  fs::path m_dir;
  std::string m_a, m_b;
  std::vector<std::string> m_ids, m_expected;
  std::vector<std::string> m_warnings;
};

TEST_F(StoreRecords, ARecordThePixelsContradictIsReplacedWithOneWarningAndTheImageRunsUnderItsRealId) {
  auto store = std::make_shared<FileResultStore>((m_dir / "store").string(), Quiet());
  // A stale record: a.png's bytes recorded as image B, whose results are not stored.
  store->SaveRecord(RecordKeyOf(m_a), m_ids[1]);
  bool known = false;
  EXPECT_TRUE(Same(Run(store, m_a, &known), m_expected[0]));
  EXPECT_TRUE(known);
  ASSERT_EQ(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find(m_a + " was recorded as image " + m_ids[1] + " but decodes to image " + m_ids[0]),
            std::string::npos)
      << m_warnings[0];
  std::string recorded;
  ASSERT_TRUE(store->LoadRecord(RecordKeyOf(m_a), &recorded));
  EXPECT_EQ(recorded, m_ids[0]) << "the record is replaced";
  // Nothing was kept for image B: its own run finds its own results.
  EXPECT_TRUE(Same(Run(store, m_b), m_expected[1]));
  // And a.png is known by its real id from now on, with every result stored.
  EXPECT_TRUE(Same(Run(store, m_a, &known), m_expected[0]));
  EXPECT_TRUE(known);
  EXPECT_EQ(m_warnings.size(), 1u);
  EXPECT_EQ(store->Contents(true).corrupt, 0u);
}

TEST_F(StoreRecords, AForgedRecordOfAStoredImageIsServedOnlyWithoutAKey) {
  // Without a key a record is a claim of the store's writers: a writer that records
  // a.png as the fully stored image B gives a.png B's results.
  auto plain = std::make_shared<FileResultStore>((m_dir / "plain").string(), Quiet());
  EXPECT_TRUE(Same(Run(plain, m_b), m_expected[1]));
  plain->SaveRecord(RecordKeyOf(m_a), m_ids[1]);
  EXPECT_TRUE(Same(Run(plain, m_a), m_expected[1]));

  // With a key, a record written without it is no record: a.png is decoded and runs as
  // itself, and the record is replaced by one with a tag.
  const fs::path keyedFolder = m_dir / "keyed";
  auto keyed = std::make_shared<FileResultStore>(keyedFolder.string(), Quiet("the team's key"));
  EXPECT_TRUE(Same(Run(keyed, m_b), m_expected[1]));
  FileResultStore(keyedFolder.string(), Quiet()).SaveRecord(RecordKeyOf(m_a), m_ids[1]);
  bool known = true;
  EXPECT_TRUE(Same(Run(keyed, m_a, &known), m_expected[0]));
  EXPECT_FALSE(known);
  std::string recorded;
  EXPECT_TRUE(keyed->LoadRecord(RecordKeyOf(m_a), &recorded));
  EXPECT_EQ(recorded, m_ids[0]);
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(StoreRecords, ARecordThatNamesNoImageIdOrAnotherDecoderIsNotUsed) {
  auto store = std::make_shared<FileResultStore>((m_dir / "store").string(), Quiet());
  for (const std::string& value : {std::string("../../etc/passwd"), std::string(65, 'a'), std::string(), std::string("a b")}) {
    store->SaveRecord(RecordKeyOf(m_a), value);
    bool known = true;
    EXPECT_TRUE(Same(Run(store, m_a, &known), m_expected[0])) << value;
    EXPECT_FALSE(known) << value;
  }
  // What a record is kept under names the decoder, so that another decoder (another
  // OpenCV) never takes what this one made of the bytes.
  EXPECT_NE(RecordKeyOf(m_a).find(DecoderIdentity()), std::string::npos);
  EXPECT_NE(DecoderIdentity().find(ImageDecoderIdentity()), std::string::npos);
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(StoreRecords, EightThreadsLoadingOneFilesPixelsGetTheSamePixelsDecodedOnce) {
  ImageFile file;
  std::string why;
  ASSERT_TRUE(ReadImageFile(m_a, &file, &why)) << why;
  const QZRef<FilePixels> pixels(new FilePixels(std::move(file)));
  std::vector<QZRef<QZMatrix>> loaded(8);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < loaded.size(); ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 20; ++i) loaded[t] = pixels->Load();
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const QZRef<QZMatrix>& each : loaded) {
    ASSERT_TRUE(each);
    EXPECT_EQ(each.get(), loaded[0].get()) << "one decoding for every thread";
  }
  QZRef<QZMatrix> taken;
  std::string failure;
  ASSERT_TRUE(pixels->TakeDecoded(&taken, &failure));
  EXPECT_EQ(taken.get(), loaded[0].get());
  EXPECT_EQ(SourceImageHashId(*taken), m_ids[0]);
}

}  // namespace
}  // namespace hostkit
}  // namespace orvex
