// The result store on disk: entries that never tear, damage that is a miss, faults that
// never change results, a size limit, and many writers at once.
#include <orvex/hostkit/FileResultStore.h>

#include "../support/StoreFolders.h"

#include <gtest/gtest.h>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVEX_TEST_LIMITS_ADDRESS_SPACE 0  // the sanitizers reserve more address space than any limit allows
#else
#define ORVEX_TEST_LIMITS_ADDRESS_SPACE 1
#endif

StoreKey Key(int serial, int stage = 17) {
  StoreKey key;
  key.dataHashId = "0123456789abcdef0123456789abcd" + std::to_string(serial) + "-" + std::to_string(stage);
  key.stage = stage;
  key.codeVersion = 1;
  return key;
}

// Bytes no encoding shrinks, the same for the same serial.
std::vector<unsigned char> Payload(int serial, std::size_t size = 4096) {
  return orvex::testing::RandomPayload(serial, size);
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
  options.limitBytes = 16 * 80000;  // 80 kB per fan-out folder: about ten entries of two 4 KiB blocks
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

// The bytes of a file, and a file of those bytes.
std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}
void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Where the fields of an entry's header lie: magic, format version, flags, key length and
// key, then the fixed fields, the tag when there is one, and the header's own checksum.
struct HeaderFields {
  explicit HeaderFields(const StoreKey& key, bool tagged) : keyLength(FileResultStore::KeyText(key).size()), tagged(tagged) {}
  std::size_t PayloadSizeAt() const { return 20 + keyLength + 12; }
  std::size_t StoredSizeAt() const { return PayloadSizeAt() + 8; }
  std::size_t ChecksumAt() const { return Length() - 8; }
  std::size_t Length() const { return 20 + keyLength + 36 + (tagged ? 32 : 0) + 8; }
  std::size_t keyLength;
  bool tagged;
};

void PutU64(std::string& bytes, std::size_t at, uint64_t value) {
  for (int i = 0; i < 8; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

TEST_F(FileStore, AHeaderBitFlippedInAnyFieldIsAMissWithoutALargeAllocation) {
  // In a child whose address space has room for far less than a payload size of 2^31,
  // where the sanitizers allow a limit.
  const int code = [&] {
    const pid_t child = fork();
    if (child != 0) {
      int status = 0;
      return waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : 255;
    }
    if (ORVEX_TEST_LIMITS_ADDRESS_SPACE) {
      long pages = 0;
      std::ifstream("/proc/self/statm") >> pages;
      const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(256) << 20);
      const rlimit space{limit, limit};
      if (setrlimit(RLIMIT_AS, &space) != 0) _exit(3);
    }
    for (StoreEncoding encoding : kEncodings) {
      StoreOptions options = Quiet();
      options.encoding = encoding;
      FileResultStore store(m_dir.string(), options);
      const HeaderFields fields(Key(1), false);
      Save(store, Key(1), Payload(1));
      const fs::path path = store.EntryPath(Key(1));
      const std::string whole = ReadBytes(path);
      if (whole.size() < fields.Length()) _exit(4);
      std::vector<unsigned char> loaded;
      try {
        for (std::size_t byte = 0; byte < fields.Length(); ++byte) {
          for (int bit = 0; bit < 8; ++bit) {
            std::string flipped = whole;
            flipped[byte] = static_cast<char>(flipped[byte] ^ (1 << bit));
            WriteBytes(path, flipped);
            const uint64_t corrupt = store.Statistics().corrupt;
            if (store.Load(Key(1), &loaded)) _exit(5);
            // An entry of another format version is left for it; any other flip is damage.
            const bool version = byte >= 8 && byte < 12;
            if (fs::exists(path) != version) _exit(6);
            if (store.Statistics().corrupt != corrupt + (version ? 0 : 1)) _exit(7);
          }
        }
        // A header that lies about its sizes with a checksum to match: nothing is sized
        // beyond what the file's length and the encoding allow.
        for (const uint64_t claimed : {uint64_t(1) << 31, uint64_t(1900000000), uint64_t(5000) * 4096}) {
          std::string forged = whole;
          PutU64(forged, fields.PayloadSizeAt(), claimed);
          PutU64(forged, fields.ChecksumAt(), XXH3_64bits(forged.data(), fields.ChecksumAt()));
          WriteBytes(path, forged);
          if (store.Load(Key(1), &loaded)) _exit(8);
        }
      } catch (const std::bad_alloc&) {
        _exit(9);
      }
      WriteBytes(path, whole);
      if (!store.Load(Key(1), &loaded) || loaded != Payload(1)) _exit(10);
      store.Clear();
    }
    _exit(0);
  }();
  EXPECT_EQ(code, 0) << "3: no limit; 4: no entry; 5: a hit; 6: a flipped version removed, or other damage left; "
                        "7: damage not counted; 8: a forged size served; 9: an allocation the file cannot fill; "
                        "10: the entry itself no longer loads";
}

TEST_F(FileStore, AnEntryOfAnotherFormatVersionIsAMissThatStaysAndACheckLeavesIt) {
  FileResultStore store(m_dir.string(), Quiet());
  Save(store, Key(1), Payload(1));
  const fs::path path = store.EntryPath(Key(1));
  std::string other = ReadBytes(path);
  other[8] = 7;  // format version 7, whatever follows
  WriteBytes(path, other);
  std::vector<unsigned char> loaded;
  EXPECT_FALSE(store.Load(Key(1), &loaded));
  EXPECT_EQ(store.Statistics().corrupt, 0u);
  const StoreContents checked = store.Contents(true);
  EXPECT_EQ(checked.otherVersion, 1u);
  EXPECT_EQ(checked.corrupt, 0u);
  EXPECT_EQ(ReadBytes(path), other) << "left for its own version";
  EXPECT_TRUE(checked.problems.empty());
}

TEST_F(FileStore, AnEntryTheStageRefusesIsCountedDamagedNotHitAndRemoved) {
  FileResultStore store(m_dir.string(), Quiet());
  Save(store, Key(1), Payload(1));
  std::vector<unsigned char> loaded;
  ASSERT_TRUE(store.Load(Key(1), &loaded));
  store.Refused(Key(1));
  const StoreStatistics statistics = store.Statistics();
  EXPECT_EQ(statistics.hits, 0u);
  EXPECT_EQ(statistics.misses, 1u);
  EXPECT_EQ(statistics.corrupt, 1u);
  EXPECT_FALSE(fs::exists(store.EntryPath(Key(1))));
}

TEST_F(FileStore, TheLimitCountsDiskBlocksSoManySmallEntriesStayWithinIt) {
  StoreOptions options = Quiet();
  options.limitBytes = 16 * 64 * 1024;  // 64 KiB per fan-out folder: sixteen 4 KiB blocks
  FileResultStore store(m_dir.string(), options);
  for (int i = 0; i < 2000; ++i) Save(store, Key(i), Payload(i, 100));
  store.Flush();
  const uint64_t disk = orvex::testing::EntryUsage(m_dir);
  EXPECT_LE(disk, options.limitBytes * 11 / 10) << "2,000 entries of 100 bytes take 4 KiB each";
  EXPECT_GT(disk, options.limitBytes / 2);
  // After a flush the size files count what the entries take.
  EXPECT_NEAR(static_cast<double>(orvex::testing::CountedBySizeFiles(m_dir)), static_cast<double>(disk), 16 * 4096.0);
}

TEST_F(FileStore, AMissingGarbledOrStaleSizeFileIsCountedAgainFromItsFolder) {
  FileResultStore store(m_dir.string(), Quiet());
  int serial = 0;
  const auto writeEverywhere = [&] {
    for (int i = 0; i < 200; ++i, ++serial) Save(store, Key(serial), Payload(serial, 5000));
    store.Flush();
  };
  writeEverywhere();
  EXPECT_EQ(orvex::testing::CountedBySizeFiles(m_dir), orvex::testing::EntryUsage(m_dir));
  const auto now = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
  for (const std::string& wrong : {std::string("missing"), std::string("12 apples\n"), std::string("-5 7\n"),
                                   "0 " + std::to_string(now - 700) + "\n", "0 " + std::to_string(now + 3600) + "\n"}) {
    for (const char digit : std::string("0123456789abcdef")) {
      const fs::path size = m_dir / std::string(1, digit) / "size";
      if (wrong == "missing") fs::remove(size);
      else WriteBytes(size, wrong);
    }
    writeEverywhere();
    EXPECT_EQ(orvex::testing::CountedBySizeFiles(m_dir), orvex::testing::EntryUsage(m_dir)) << wrong;
  }
}

TEST_F(FileStore, WithAKeyOnlyEntriesItTaggedAreServed) {
  StoreOptions keyed = Quiet();
  keyed.key = "a store key";
  StoreOptions otherKey = Quiet();
  otherKey.key = "another key";
  std::vector<unsigned char> loaded;
  {
    FileResultStore store(m_dir.string(), keyed);
    Save(store, Key(1), Payload(1));
    ASSERT_TRUE(store.Load(Key(1), &loaded));
    EXPECT_EQ(loaded, Payload(1));
    // Without the key an entry is read as today: its checksums hold, its tag is not known.
    EXPECT_TRUE(FileResultStore(m_dir.string(), Quiet()).Load(Key(1), &loaded));
    // With another key, or no tag at all, it is a miss, counted and removed.
    FileResultStore other(m_dir.string(), otherKey);
    EXPECT_FALSE(other.Load(Key(1), &loaded));
    EXPECT_EQ(other.Statistics().corrupt, 1u);
    EXPECT_FALSE(fs::exists(store.EntryPath(Key(1))));
    FileResultStore(m_dir.string(), Quiet()).Save(Key(2), Payload(2).data(), Payload(2).size());
    EXPECT_FALSE(store.Load(Key(2), &loaded)) << "an entry written without the key";
  }
  // A tagged header flipped anywhere, the tag included, is a miss.
  FileResultStore store(m_dir.string(), keyed);
  const HeaderFields fields(Key(3), true);
  Save(store, Key(3), Payload(3));
  const std::string whole = ReadBytes(store.EntryPath(Key(3)));
  for (std::size_t byte = 12; byte < fields.Length(); byte += 3) {
    std::string flipped = whole;
    flipped[byte] = static_cast<char>(flipped[byte] ^ 0x10);
    WriteBytes(store.EntryPath(Key(3)), flipped);
    EXPECT_FALSE(store.Load(Key(3), &loaded)) << byte;
  }
  // The check removes what does not verify, and says so.
  Save(store, Key(4), Payload(4));
  FileResultStore(m_dir.string(), Quiet()).Save(Key(5), Payload(5).data(), Payload(5).size());
  const StoreContents checked = store.Contents(true);
  EXPECT_EQ(checked.unverified, 1u);
  EXPECT_EQ(checked.entries, 1u);
}

// The process's open descriptors.
int OpenDescriptors() {
  int count = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd")) count += entry.path().empty() ? 0 : 1;
  return count;
}


TEST_F(FileStore, ALoadWhosePayloadCannotBeAllocatedThrowsAndLeavesNoDescriptorOpen) {
  if (!ORVEX_TEST_LIMITS_ADDRESS_SPACE) GTEST_SKIP() << "address-space limits do not work with the sanitizers";
  StoreOptions options = Quiet();
  options.encoding = StoreEncoding::kZstd;
  FileResultStore store(m_dir.string(), options);
  {
    // A true entry of 192 MB that zstd keeps in a few kilobytes.
    const std::vector<unsigned char> large(std::size_t(192) << 20, 0);
    store.Save(Key(1), large.data(), large.size());
  }
  Save(store, Key(2), Payload(2));
  ASSERT_LT(fs::file_size(store.EntryPath(Key(1))), 1u << 20);

  // In a child whose address space has room for far less than the payload.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const rlim_t limit = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t(96) << 20);
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
    // The store goes on: the next load is a hit, and the large entry is still there.
    _exit(store.Load(Key(2), &loaded) && loaded == Payload(2) && fs::exists(store.EntryPath(Key(1))) ? 0 : 6);
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
  // With and without a key; the threads also keep records, flush, refuse hits and check
  // the store while the others write.
  for (const char* key : {"", "a key"}) {
    StoreOptions options = Quiet();
    options.key = key;
    options.limitBytes = 16 * 400 * 1024;  // small enough that folders are cleaned meanwhile
    FileResultStore store(m_dir.string(), options);
    std::atomic<int> wrong{0}, checkedDamaged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
      threads.emplace_back([&, t] {
        std::vector<unsigned char> loaded;
        std::string record;
        for (int i = 0; i < 200; ++i) {
          const int serial = (i + t) % 40;  // every key written by several threads
          const std::vector<unsigned char> payload = Payload(serial, 20000 + serial);
          store.Save(Key(serial), payload.data(), payload.size());
          const int other = (i * 7 + t) % 40;
          if (store.Load(Key(other), &loaded) && loaded != Payload(other, 20000 + other)) ++wrong;
          store.SaveRecord("file-" + std::to_string(serial), "image" + std::to_string(serial));
          if (store.LoadRecord("file-" + std::to_string(other), &record) && record != "image" + std::to_string(other)) ++wrong;
          if (i % 50 == t) store.Flush();
          if (t == 0 && i % 40 == 0) store.Refused(Key(other));
          if (t == 1 && i % 60 == 0) checkedDamaged += static_cast<int>(store.Contents(true).corrupt);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0) << key;
    EXPECT_EQ(checkedDamaged.load(), 0) << key;
    EXPECT_EQ(store.Statistics().corrupt, 5u) << "the refused hits alone";
    EXPECT_EQ(store.Contents(true).corrupt, 0u) << key;
    EXPECT_TRUE(m_warnings.empty()) << m_warnings[0];
    store.Clear();
  }
}

}  // namespace
}  // namespace hostkit
}  // namespace orvex
