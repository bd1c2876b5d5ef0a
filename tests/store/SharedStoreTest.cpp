// A store shared by many processes and users: forked writers, a group of users, folders
// that are not stores, and members of the group who plant links or folders in it.
#include <orvex/hostkit/FileResultStore.h>

#include "../support/StoreFolders.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace hostkit {
namespace {

namespace fs = std::filesystem;
using orvex::testing::RunAs;
using orvex::testing::TestUser;

StoreKey Key(int serial) {
  StoreKey key;
  key.dataHashId = "fedcba9876543210fedcba98765432" + std::to_string(serial);
  key.stage = 12;
  key.codeVersion = 2;
  return key;
}

std::vector<unsigned char> Payload(int serial, std::size_t size = 8192) {
  return orvex::testing::RandomPayload(serial, size);
}

class SharedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("shared-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_store = m_dir / "store";
  }
  void TearDown() override { fs::remove_all(m_dir); }

  StoreOptions Quiet() {
    StoreOptions options;
    options.warn = [this](const std::string& text) { m_warnings.push_back(text); };
    return options;
  }
  static void Save(FileResultStore& store, int serial, std::size_t size = 8192) {
    const std::vector<unsigned char> payload = Payload(serial, size);
    store.Save(Key(serial), payload.data(), payload.size());
  }

  fs::path m_dir, m_store;
  std::vector<std::string> m_warnings;
};

TEST_F(SharedStore, ForkedWritersUseNamesOfTheirOwnAndAPoolThatNeverRunsDestructorsKeepsTheLimit) {
  StoreOptions options = Quiet();
  options.limitBytes = 16 * 400 * 1024;
  FileResultStore store(m_store.string(), options);
  for (int i = 0; i < 5; ++i) Save(store, 100000 + i);  // the parent has written before it forks
  constexpr int kChildren = 4, kEach = 300;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0; i < kEach; ++i) Save(store, c * kEach + i);
      // Ends as a pool's worker does: no destructor, no flush.
      _exit(store.Statistics().writes == 5 + kEach && store.Writable() ? 0 : 1);
    }
    children.push_back(child);
  }
  for (int i = 0; i < 50; ++i) Save(store, 200000 + i);  // the parent writes on meanwhile
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a child did not write every entry";
  }
  store.Flush();
  // 9.6 MB written against a 6.4 MB limit: within it, give or take one entry per folder
  // and process not yet counted.
  const uint64_t slack = uint64_t(kChildren + 1) * 16 * 12 * 1024;
  const uint64_t disk = orvex::testing::EntryUsage(m_store);
  EXPECT_LE(disk, options.limitBytes + slack);
  EXPECT_GE(orvex::testing::CountedBySizeFiles(m_store) + slack, disk) << "the children's writes are counted";
  EXPECT_EQ(store.Contents(true).corrupt, 0u);
  EXPECT_TRUE(m_warnings.empty()) << m_warnings[0];
}

TEST_F(SharedStore, AFolderThatIsNotAStoreIsNeverReadWrittenNorCleared) {
  const fs::path folder = m_dir / "mine";
  fs::create_directories(folder / "3");
  for (const char* name : {"notes.entry", "0123456789abcdef0123456789abcdef.entry", "a.record", "x.tmp.1", "size",
                           "3/0123456789abcdef0123456789abcdef.entry"}) {
    std::ofstream(folder / name) << "the user's own " << name;
  }
  const auto before = orvex::testing::FilesUnder(folder);
  {
    FileResultStore store(folder.string(), Quiet());
    EXPECT_FALSE(store.IsStore());
    EXPECT_FALSE(store.Writable());
    ASSERT_EQ(m_warnings.size(), 1u);
    EXPECT_NE(m_warnings[0].find(folder.string()), std::string::npos) << m_warnings[0];
    EXPECT_NE(m_warnings[0].find("CACHEDIR.TAG"), std::string::npos) << m_warnings[0];
    Save(store, 1);
    std::vector<unsigned char> loaded;
    EXPECT_FALSE(store.Load(Key(1), &loaded));
    const StoreContents cleared = store.Clear();
    ASSERT_FALSE(cleared.problems.empty());
    EXPECT_NE(cleared.problems[0].find(folder.string()), std::string::npos);
    EXPECT_FALSE(store.Contents(true).problems.empty());
  }
  EXPECT_EQ(orvex::testing::FilesUnder(folder), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 6) << "no folders were made";

  // A missing or empty folder becomes a store, marked as one; a later store opens it.
  fs::create_directories(m_dir / "empty");
  for (const fs::path& made : {m_dir / "empty", m_dir / "missing"}) {
    EXPECT_TRUE(FileResultStore(made.string(), Quiet()).IsStore());
    EXPECT_EQ(orvex::testing::FilesUnder(made).at("CACHEDIR.TAG").rfind("Signature: 8a477f597d28d172789f06886806bc55\n", 0), 0u);
    Save(*std::make_unique<FileResultStore>(made.string(), Quiet()), 1);
    EXPECT_TRUE(FileResultStore(made.string(), Quiet()).IsStore());
  }
  StoreOptions lookOnly = Quiet();
  lookOnly.create = false;
  EXPECT_FALSE(FileResultStore((m_dir / "absent").string(), lookOnly).IsStore());
  EXPECT_FALSE(fs::exists(m_dir / "absent")) << "a store only looked at is not made";
}

TEST_F(SharedStore, AFolderNamedLikeAnEntryCostsThatEntryAloneAndIsReportedOrRemoved) {
  FileResultStore store(m_store.string(), Quiet());
  const fs::path squatted = store.EntryPath(Key(0));
  fs::create_directories(squatted / "inside");
  fs::create_directories(store.EntryPath(Key(1)));  // an empty folder is taken away
  for (int i = 0; i < 8; ++i) Save(store, i);
  std::vector<unsigned char> loaded;
  EXPECT_FALSE(store.Load(Key(0), &loaded));
  for (int i = 1; i < 8; ++i) EXPECT_TRUE(store.Load(Key(i), &loaded)) << i;
  EXPECT_TRUE(store.Writable());
  ASSERT_EQ(m_warnings.size(), 1u);
  EXPECT_NE(m_warnings[0].find(squatted.string()), std::string::npos) << m_warnings[0];
  // Looking, checking and clearing name it; none of them call the store sound or empty.
  EXPECT_FALSE(store.Contents(false).problems.empty());
  EXPECT_FALSE(store.Contents(true).problems.empty());
  const StoreContents cleared = store.Clear();
  ASSERT_EQ(cleared.problems.size(), 1u);
  EXPECT_NE(cleared.problems[0].find(squatted.filename().string()), std::string::npos) << cleared.problems[0];
  EXPECT_TRUE(fs::is_directory(squatted / "inside")) << "a folder's contents are never removed";
  // An empty folder in its place is removed by a check.
  fs::remove_all(squatted / "inside");
  EXPECT_EQ(store.Contents(true).corrupt, 1u);
  EXPECT_FALSE(fs::exists(squatted));
}

TEST_F(SharedStore, LinksPlantedByAnotherMemberOfTheGroupLeadTheOwnersRunNowhere) {
  TestUser member("p");
  if (!member.Made()) GTEST_SKIP() << member.Why();
  // The owner's files the member may not write: a file, a folder of files named like a
  // store's, and a place for a file that must not appear.
  const fs::path own = m_dir / "owner";
  fs::create_directories(own / "folder");
  std::ofstream(own / "secret") << "the owner's secret";
  std::ofstream(own / "folder" / "0123456789abcdef0123456789abcdef.entry") << "the owner's file";
  std::ofstream(own / "folder" / "lock") << "the owner's lock";
  std::ofstream(own / "folder" / "size") << "the owner's size";
  fs::permissions(own, fs::perms::owner_all);
  const auto before = orvex::testing::FilesUnder(own);

  // A store the group may write, as a team sets one up.
  ASSERT_EQ(RunAs(nullptr, 002, [&] { return FileResultStore(m_store.string(), Quiet()).IsStore() ? 0 : 1; }), 0);
  ASSERT_EQ(std::system(("chgrp -R " + member.Group() + " " + m_store.string() + " && chmod -R g+w " + m_store.string() +
                         " && find " + m_store.string() + " -type d -exec chmod g+s {} +").c_str()),
            0);
  // The member plants, for the owner's next run: the temporary names the owner used to
  // write its size files under, a lock file, and a fan-out folder, all links.
  const pid_t owner = getpid();
  ASSERT_EQ(RunAs(&member, 002, [&] {
              for (const char digit : std::string("0123456789abcdef")) {
                const fs::path fan = m_store / std::string(1, digit);
                symlink((own / "secret").c_str(), (fan / ("size.tmp." + std::to_string(owner))).c_str());
              }
              fs::remove(m_store / "7" / "lock");
              symlink((own / "made-by-the-store").c_str(), (m_store / "7" / "lock").c_str());
              fs::rename(m_store / "5", m_store / "5-moved");
              return symlink((own / "folder").c_str(), (m_store / "5").c_str()) == 0 ? 0 : 1;
            }),
            0);

  StoreOptions options = Quiet();
  options.limitBytes = 16 * 64 * 1024;  // small: every folder is cleaned while the owner writes
  {
    FileResultStore store(m_store.string(), options);
    for (int i = 0; i < 400; ++i) Save(store, i);
    store.Flush();
    store.Contents(true);
    store.Clear();
  }
  EXPECT_EQ(orvex::testing::FilesUnder(own), before) << "the owner's files are as they were";
  EXPECT_FALSE(fs::exists(own / "made-by-the-store"));
  ASSERT_FALSE(m_warnings.empty());
  EXPECT_NE(m_warnings[0].find(m_store.string() + "/5 is not a plain folder"), std::string::npos) << m_warnings[0];
}

TEST_F(SharedStore, TwoMembersOfAGroupCountAndRefreshEachOthersEntriesWithinTheLimit) {
  TestUser member("m");
  if (!member.Made()) GTEST_SKIP() << member.Why();
  // A store for a team: a set-group-id folder of the team's group, and a umask of 002.
  fs::create_directories(m_store);
  ASSERT_EQ(std::system(("chgrp " + member.Group() + " " + m_store.string() + " && chmod 2775 " + m_store.string()).c_str()), 0);
  StoreOptions options = Quiet();
  options.limitBytes = 16 * 256 * 1024;
  // The owner writes half the limit, then one entry under a umask that keeps it private.
  ASSERT_EQ(RunAs(nullptr, 002, [&] {
              FileResultStore store(m_store.string(), options);
              for (int i = 0; i < 200; ++i) Save(store, i);
              umask(022);
              Save(store, 999);
              return store.Writable() ? 0 : 1;
            }),
            0);
  const fs::path shared = FileResultStore(m_store.string(), options).EntryPath(Key(7));
  const fs::path privately = FileResultStore(m_store.string(), options).EntryPath(Key(999));
  const auto longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24);
  fs::last_write_time(shared, longAgo);
  fs::last_write_time(privately, longAgo);
  EXPECT_EQ(fs::status(shared).permissions() & fs::perms::group_write, fs::perms::group_write) << "the umask decides";
  // The member hits both entries: the private one cannot be kept young by the member,
  // and that is said, not silent.
  const auto memberStore = [&] {
    StoreOptions mine = options;
    mine.warn = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
    return std::make_unique<FileResultStore>(m_store.string(), mine);
  };
  ::testing::internal::CaptureStderr();
  const int hits = RunAs(&member, 002, [&] {
    std::vector<unsigned char> loaded;
    return memberStore()->Load(Key(7), &loaded) && memberStore()->Load(Key(999), &loaded) ? 0 : 2;
  });
  const std::string said = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(hits, 0) << said;
  EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  EXPECT_NE(said.find("cannot keep other users' entries young"), std::string::npos) << said;
  EXPECT_GT(fs::last_write_time(shared), longAgo) << "the member's hit keeps the owner's entry young";
  // The member writes three times the limit: its writes are counted with the owner's.
  ASSERT_EQ(RunAs(&member, 002, [&] {
              std::unique_ptr<FileResultStore> store = memberStore();
              for (int i = 1000; i < 2500; ++i) Save(*store, i);
              return store->Writable() && store->Statistics().writes == 1500 ? 0 : 3;
            }),
            0);
  const uint64_t disk = orvex::testing::EntryUsage(m_store);
  const uint64_t slack = 2 * 16 * 12 * 1024;
  EXPECT_LE(disk, options.limitBytes + slack);
  EXPECT_GE(orvex::testing::CountedBySizeFiles(m_store) + slack, disk) << "the member's writes are counted";
}

}  // namespace
}  // namespace hostkit
}  // namespace orvex
