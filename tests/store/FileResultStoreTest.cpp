// The result store on disk: entries that never tear, damage that is a miss, faults that
// never change results, a size limit, and many writers at once.
#include <orvex/hostkit/FileResultStore.h>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

namespace fs = std::filesystem;

StoreKey Key(int serial, int stage = 17) {
  StoreKey key;
  key.dataHashId = "0123456789abcdef0123456789abcd" + std::to_string(serial) + "-" + std::to_string(stage);
  key.stage = stage;
  key.codeVersion = 1;
  return key;
}

// Bytes no encoding shrinks, the same for the same serial.
std::vector<unsigned char> Payload(int serial, std::size_t size = 4096) {
  std::mt19937 random(static_cast<unsigned>(serial));
  std::vector<unsigned char> bytes(size);
  for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
  return bytes;
}

constexpr StoreEncoding kEncodings[] = {StoreEncoding::kRaw, StoreEncoding::kLz4, StoreEncoding::kZstd};

class FileStore : public ::testing::Test {
 protected:
  // Damages four entries of `store` in four ways, then expects each to be a counted miss,
  // removed, and found again once saved again.
  void ExpectDamagedEntriesAreReplaced(FileResultStore& store);
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) / ("store-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                               "-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  StoreOptions Quiet() {
    StoreOptions options;
    options.warn = [this](const std::string& text) { m_warnings.push_back(text); };
    return options;
  }
  static void Save(FileResultStore& store, const StoreKey& key, const std::vector<unsigned char>& payload) {
    store.Save(key, payload.data(), payload.size());
  }
  std::vector<fs::path> Entries() const {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(m_dir))
      if (entry.path().extension() == ".entry") found.push_back(entry.path());
    return found;
  }

  fs::path m_dir;
  std::vector<std::string> m_warnings;
};

TEST_F(FileStore, WhatIsSavedIsLoadedBackInEveryEncodingByAnyStoreUnderItsOwnKeyOnly) {
  for (StoreEncoding encoding : kEncodings) {
    StoreOptions options = Quiet();
    options.encoding = encoding;
    FileResultStore store(m_dir.string(), options);
    const std::vector<unsigned char> payload = Payload(static_cast<int>(encoding), 100000);
    Save(store, Key(1), payload);
    std::vector<unsigned char> loaded(200000, 7);  // a larger buffer than the payload: replaced, not added to
    ASSERT_TRUE(store.Load(Key(1), &loaded));
    EXPECT_EQ(loaded, payload);
    StoreOptions otherOptions = Quiet();
    otherOptions.encoding = encoding == StoreEncoding::kRaw ? StoreEncoding::kZstd : StoreEncoding::kRaw;
    std::vector<unsigned char> loadedByOther;
    EXPECT_TRUE(FileResultStore(m_dir.string(), otherOptions).Load(Key(1), &loadedByOther));
    EXPECT_EQ(loadedByOther, payload) << "a store reads entries of every encoding";
    StoreKey otherVersion = Key(1);
    otherVersion.codeVersion = 2;
    EXPECT_FALSE(store.Load(otherVersion, &loaded)) << "a result of older code is never served";
    EXPECT_FALSE(store.Load(Key(2), &loaded));
    const StoreStatistics statistics = store.Statistics();
    EXPECT_EQ(statistics.hits, 1u);
    EXPECT_EQ(statistics.misses, 2u);
    EXPECT_EQ(statistics.writes, 1u);
    EXPECT_GT(statistics.bytesRead, 0u);
    store.Clear();
  }
  EXPECT_TRUE(m_warnings.empty());
}

TEST_F(FileStore, DamagedEntriesOfEveryEncodingAreMissesCountedRemovedAndReplaced) {
  for (StoreEncoding encoding : kEncodings) {
    SCOPED_TRACE(static_cast<int>(encoding));
    StoreOptions options = Quiet();
    options.encoding = encoding;
    FileResultStore store(m_dir.string(), options);
    ExpectDamagedEntriesAreReplaced(store);
    store.Clear();
  }
}

void FileStore::ExpectDamagedEntriesAreReplaced(FileResultStore& store) {
  for (int i = 0; i < 4; ++i) Save(store, Key(i), Payload(i));
  std::vector<fs::path> entries = Entries();
  ASSERT_EQ(entries.size(), 4u);
  std::sort(entries.begin(), entries.end());
  const auto read = [](const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
  };
  const auto write = [](const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; };
  // A flipped byte, a file cut short, an empty file, and two entries' contents swapped.
  std::string flipped = read(entries[0]);
  flipped[flipped.size() / 2] ^= 0x40;
  write(entries[0], flipped);
  const std::string whole = read(entries[1]);
  write(entries[1], whole.substr(0, whole.size() - 10));
  write(entries[2], "");
  const std::string third = read(entries[3]);
  write(entries[3], whole);
  std::vector<unsigned char> loaded;
  int hits = 0;
  for (int i = 0; i < 4; ++i) hits += store.Load(Key(i), &loaded) ? 1 : 0;
  EXPECT_EQ(hits, 0);
  EXPECT_EQ(store.Statistics().corrupt, 4u);
  EXPECT_TRUE(Entries().empty()) << "damaged entries are taken out of the way";
  // Computed again and saved, they are found again.
  for (int i = 0; i < 4; ++i) Save(store, Key(i), Payload(i));
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(store.Load(Key(i), &loaded));
    EXPECT_EQ(loaded, Payload(i));
  }
  EXPECT_EQ(store.Contents(true).corrupt, 0u);
}

TEST_F(FileStore, ACheckFindsEveryDamagedEntryAndAnEntryCopiedUnderAnotherName) {
  FileResultStore store(m_dir.string(), Quiet());
  for (int i = 0; i < 3; ++i) Save(store, Key(i), Payload(i));
  std::vector<fs::path> entries = Entries();
  fs::copy_file(entries[0], entries[1], fs::copy_options::overwrite_existing);
  std::ofstream(entries[2], std::ios::binary | std::ios::app) << "trailing";
  const StoreContents checked = store.Contents(true);
  EXPECT_EQ(checked.corrupt, 2u);
  EXPECT_EQ(checked.entries, 1u);
}

TEST_F(FileStore, AStoreThatCannotWriteGoesOnWithOneWarning) {
  fs::create_directories(m_dir.parent_path());
  const fs::path file = m_dir.string() + ".file";
  std::ofstream(file) << "a file where the store should be";
  FileResultStore store(file.string(), Quiet());
  for (int i = 0; i < 3; ++i) Save(store, Key(i), Payload(i));
  std::vector<unsigned char> loaded;
  EXPECT_FALSE(store.Load(Key(0), &loaded));
  EXPECT_EQ(m_warnings.size(), 1u);
  EXPECT_FALSE(store.Writable());
  fs::remove(file);

  // A folder that disappears while the store is in use.
  FileResultStore vanishing(m_dir.string(), Quiet());
  Save(vanishing, Key(0), Payload(0));
  fs::remove_all(m_dir);
  for (int i = 1; i < 4; ++i) Save(vanishing, Key(i), Payload(i));
  EXPECT_EQ(m_warnings.size(), 2u);
  EXPECT_EQ(vanishing.Statistics().writes, 1u);
}

TEST_F(FileStore, TheStoreStaysNearItsLimitAndEvictsTheLeastRecentlyUsedFirst) {
  StoreOptions options = Quiet();
  options.limitBytes = 16 * 40000;  // 40 kB per fan-out folder: about ten entries
  std::vector<unsigned char> loaded;
  {
    FileResultStore store(m_dir.string(), options);
    Save(store, Key(0), Payload(0));
    for (int i = 1; i < 800; ++i) {
      Save(store, Key(i), Payload(i));
      if (i % 10 == 0) {
        ASSERT_TRUE(store.Load(Key(0), &loaded)) << "a hit keeps an entry young, " << i;
      }
    }
    EXPECT_GT(store.Statistics().evictions, 600u);
  }
  FileResultStore store(m_dir.string(), options);
  const StoreContents contents = store.Contents(false);
  EXPECT_LE(contents.bytes, options.limitBytes * 11 / 10);
  EXPECT_GT(contents.bytes, options.limitBytes / 3);
  EXPECT_TRUE(store.Load(Key(0), &loaded));
  int early = 0;
  for (int i = 1; i < 100; ++i) early += store.Load(Key(i), &loaded) ? 1 : 0;
  EXPECT_EQ(early, 0) << "the oldest entries went first";
}

// The process's open descriptors.
int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) count += entry.path().empty() ? 0 : 1;
  return count;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEX_TEST_LIMITS_ADDRESS_SPACE 0  // the sanitizers reserve more address space than any limit allows
#else
#define ORVEX_TEST_LIMITS_ADDRESS_SPACE 1
#endif

TEST_F(FileStore, ALoadWhosePayloadCannotBeAllocatedThrowsAndLeavesNoDescriptorOpen) {
  if (!ORVEX_TEST_LIMITS_ADDRESS_SPACE) GTEST_SKIP() << "address-space limits do not work with the sanitizers";
  StoreOptions options = Quiet();
  options.encoding = StoreEncoding::kLz4;
  FileResultStore store(m_dir.string(), options);
  Save(store, Key(1), Payload(1));
  // The entry claims a payload of 1.9 GB: its stored bytes still match their checksum.
  const fs::path path = store.EntryPath(Key(1));
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream read;
    read << in.rdbuf();
    bytes = read.str();
  }
  const std::size_t payloadSizeAt = 8 + 4 + 4 + FileResultStore::KeyText(Key(1)).size() + 4 + 4 + 4;
  const uint64_t claimed = 1900000000;
  for (int i = 0; i < 8; ++i) bytes[payloadSizeAt + i] = static_cast<char>(claimed >> (8 * i));
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  Save(store, Key(2), Payload(2));

  // In a child whose address space has room for far less than the claimed payload.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(512) << 20);
    const rlimit space{limit, limit};
    if (setrlimit(RLIMIT_AS, &space) != 0) _exit(3);
    const int before = OpenDescriptors();
    std::vector<unsigned char> loaded;
    bool threw = false;
    try {
      store.Load(Key(1), &loaded);
    } catch (const std::bad_alloc&) {
      threw = true;
    }
    if (!threw) _exit(4);
    if (OpenDescriptors() != before) _exit(5);
    // The store goes on: the next load is a hit.
    _exit(store.Load(Key(2), &loaded) && loaded == Payload(2) ? 0 : 6);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: no limit, 4: no bad_alloc, 5: a descriptor left open, 6: no hit after it";
}

TEST_F(FileStore, TemporaryFilesOfAKilledWriterGoOnceTheyAreOld) {
  { FileResultStore store(m_dir.string(), Quiet()); }
  const fs::path old = m_dir / "3" / "abc.entry.tmp.99.1";
  const fs::path young = m_dir / "3" / "abc.entry.tmp.99.2";
  std::ofstream(old) << "half";
  std::ofstream(young) << "half";
  const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
  fs::last_write_time(old, twoHoursAgo);
  FileResultStore store(m_dir.string(), Quiet());
  EXPECT_FALSE(fs::exists(old));
  EXPECT_TRUE(fs::exists(young)) << "a writer may still be at work on it";
}

TEST_F(FileStore, EightThreadsSavingAndLoadingOneStoreNeverSeeATornEntry) {
  FileResultStore store(m_dir.string(), Quiet());
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      std::vector<unsigned char> loaded;
      for (int i = 0; i < 200; ++i) {
        const int serial = (i + t) % 40;  // every key written by several threads
        const std::vector<unsigned char> payload = Payload(serial, 20000 + serial);
        store.Save(Key(serial), payload.data(), payload.size());
        if (store.Load(Key((i * 7 + t) % 40), &loaded) && loaded != Payload((i * 7 + t) % 40, 20000 + (i * 7 + t) % 40)) {
          ++wrong;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(store.Statistics().corrupt, 0u);
  EXPECT_EQ(store.Contents(true).corrupt, 0u);
}

}  // namespace
}  // namespace hostkit
}  // namespace orvex
