// The stagecache tool with a result store, as users who share one for months run it:
// folders that are not stores, read-only mounts, processes stopped by signals under a
// limit, keys, and the report drawn from stored results.
#include "../support/StoreFolders.h"
#include "../support/TestScene.h"
#include "../support/ToolRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using orvex::testing::ToolRun;

class StoreTool : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("storetool-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    m_store = m_dir / "store";
  }
  void TearDown() override { fs::remove_all(m_dir); }

  ToolRun Tool(const std::string& arguments) {
    return orvex::testing::RunTool(STAGECACHE_TOOL, arguments, m_dir / "stderr.txt");
  }
  // Starts the tool in the background, its output thrown away; its pid.
  pid_t Start(const std::vector<std::string>& arguments) {
    std::vector<char*> argv{const_cast<char*>(STAGECACHE_TOOL)};
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    if (posix_spawn(&pid, STAGECACHE_TOOL, &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }
  // Waits until the store's entries take `bytes` on disk while the process still runs;
  // false when it ended first or that took two minutes.
  bool WaitForEntries(pid_t pid, uint64_t bytes) {
    for (int i = 0; i < 2400; ++i) {
      siginfo_t info{};
      if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
        return false;
      }
      if (orvex::testing::EntryUsage(m_store) >= bytes) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return false;
  }
  // Large drawn pages, each of a size of its own.
  fs::path Pages(int count, int width = 1200) {
    const fs::path folder = m_dir / "pages";
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
      const cv::Size size(width + 40 * i, width * 3 / 4 + 30 * i);
      EXPECT_TRUE(cv::imwrite((folder / ("page-" + std::to_string(i) + ".png")).string(), orvex::testing::DrawBarPage(size)));
    }
    return folder;
  }

  fs::path m_dir, m_store;
};

TEST_F(StoreTool, StoreCommandsRefuseAFolderThatIsNotAStoreAndTouchNothingInIt) {
  const fs::path mine = m_dir / "mine";
  fs::create_directories(mine / "a");
  for (const char* name : {"photo.entry", "0123456789abcdef0123456789abcdef.entry", "notes.record", "draft.tmp.3", "size",
                           "a/0123456789abcdef0123456789abcdef.entry"}) {
    std::ofstream(mine / name) << "the user's " << name;
  }
  const auto before = orvex::testing::FilesUnder(mine);
  for (const char* command : {"--store-clear", "--store-check", "--store-show"}) {
    const ToolRun run = Tool("--store " + mine.string() + " " + command);
    EXPECT_NE(run.exitCode, 0) << command;
    EXPECT_NE(run.err.find(mine.string() + " is not a result store"), std::string::npos) << command << ": " << run.err;
    EXPECT_EQ(orvex::testing::FilesUnder(mine), before) << command;
    EXPECT_EQ(std::distance(fs::directory_iterator(mine), fs::directory_iterator()), 6) << command << ": no folders made";
  }
  // A run with it as its store warns once and goes on without one.
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(320, 240))));
  const ToolRun run = Tool("--quiet --store " + mine.string() + " " + page.string());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.err.find("is not a result store"), std::string::npos) << run.err;
  EXPECT_EQ(orvex::testing::FilesUnder(mine), before);
  // A store that is missing is looked at, not made.
  EXPECT_NE(Tool("--store " + (m_dir / "absent").string() + " --store-show").exitCode, 0);
  EXPECT_FALSE(fs::exists(m_dir / "absent"));
}

TEST_F(StoreTool, StoreCommandsOnAReadOnlyStoreSayWhatTheyCouldNotDoAndFail) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a file system read-only needs root";
  const fs::path mount = m_dir / "mount";
  fs::create_directories(mount);
  if (std::system(("mount -t tmpfs -o size=16m tmpfs " + mount.string() + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  const fs::path store = mount / "store";
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(320, 240))));
  ASSERT_EQ(Tool("--quiet --store " + store.string() + " " + page.string()).exitCode, 0);
  // One damaged entry for the check to find.
  for (const auto& entry : fs::recursive_directory_iterator(store)) {
    if (entry.path().extension() == ".entry") {
      std::ofstream(entry.path(), std::ios::binary | std::ios::app) << "trailing";
      break;
    }
  }
  const auto before = orvex::testing::FilesUnder(store);
  ASSERT_EQ(std::system(("mount -o remount,ro " + mount.string()).c_str()), 0);
  const ToolRun clear = Tool("--store " + store.string() + " --store-clear");
  const ToolRun check = Tool("--store " + store.string() + " --store-check");
  // A run on it still takes what it can, with one warning.
  const ToolRun run = Tool("--quiet --json --store " + store.string() + " " + page.string());
  std::system(("umount " + mount.string()).c_str());
  EXPECT_EQ(clear.exitCode, 1) << clear.out << clear.err;
  EXPECT_NE(clear.err.find("Read-only file system"), std::string::npos) << clear.err;
  EXPECT_NE(clear.out.find("not emptied: 0 files removed"), std::string::npos) << clear.out;
  EXPECT_EQ(check.exitCode, 1) << check.out << check.err;
  EXPECT_NE(check.err.find("could not remove 1 file"), std::string::npos) << check.err;
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_GT(nlohmann::json::parse(run.out)["store"]["hits"].get<int>(), 0);
  EXPECT_LE(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_FALSE(before.empty());
}

TEST_F(StoreTool, ProcessesStoppedBySigtermOrSigkillLeaveTheStoreCountedAndWithinItsLimit) {
  // Enough pages that the runs are still writing when they are stopped.
  const fs::path pages = Pages(8, 1300);
  // A run stopped by SIGTERM while it writes has added what it wrote to the size files:
  // all of it but what its other job was writing at that moment.
  const pid_t stopped = Start({"--quiet", "--jobs", "2", "--store", m_store.string(), pages.string()});
  ASSERT_GT(stopped, 0);
  ASSERT_TRUE(WaitForEntries(stopped, 6u << 20)) << "the run ended before it could be stopped";
  kill(stopped, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(stopped, &status, 0), stopped);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "it ends by the signal it was sent";
  const uint64_t written = orvex::testing::EntryUsage(m_store);
  const uint64_t inFlight = 3u << 20;  // an entry or two of the other job
  EXPECT_GE(orvex::testing::CountedBySizeFiles(m_store) + inFlight, written)
      << "written " << written << ", counted " << orvex::testing::CountedBySizeFiles(m_store);

  // Three processes over one store with an 8 MiB limit: one stopped by SIGTERM, one by
  // SIGKILL, one that ends, writing more than the limit together: the store stays within
  // it, give or take what each process was writing when it stopped.
  fs::remove_all(m_store);
  const uint64_t limit = 8u << 20;
  std::vector<pid_t> runs;
  for (const char* encoding : {"raw", "lz4"}) {
    runs.push_back(Start({"--quiet", "--jobs", "1", "--store-limit", "8M", "--store-encoding", encoding, "--store",
                          m_store.string(), pages.string()}));
    ASSERT_GT(runs.back(), 0);
  }
  ASSERT_TRUE(WaitForEntries(runs[0], limit / 2)) << "the runs ended before they could be stopped";
  kill(runs[0], SIGTERM);
  kill(runs[1], SIGKILL);
  for (pid_t run : runs) ASSERT_EQ(waitpid(run, &status, 0), run);
  const ToolRun last = Tool("--quiet --jobs 2 --store-limit 8M --store " + m_store.string() + " " + pages.string());
  EXPECT_EQ(last.exitCode, 0) << last.err;
  const uint64_t slack = 3 * (3u << 20);
  EXPECT_LE(orvex::testing::EntryUsage(m_store), limit + slack);
  EXPECT_GT(orvex::testing::EntryUsage(m_store), limit / 2);
  EXPECT_EQ(Tool("--store " + m_store.string() + " --store-check").exitCode, 0);
}

TEST_F(StoreTool, ResultPicturesFromAWarmStoreAreTheColdRunsPictures) {
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(360, 270))));
  // The standard set with a line extraction of other parameters: its line segments are
  // computed from contours taken from the store.
  nlohmann::json sets = nlohmann::json::parse(Tool("--print-default-params").out);
  sets["parameterSets"].erase(1);
  sets["parameterSets"][0]["lineExtractionModes"][0]["textArg1"] = "another line extraction";
  std::ofstream(m_dir / "changed.json") << sets.dump();
  const std::string store = " --store " + m_store.string() + " ";
  const auto report = [&](const std::string& name, const std::string& options) {
    const ToolRun run = Tool("--quiet --pictures all --out " + (m_dir / name).string() + store + options + page.string());
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return m_dir / name / "images" / "1-page_png";
  };
  const fs::path cold = report("cold", "");
  std::set<std::string> stagesDrawn;
  for (const fs::path& warm : {report("warm", ""), report("changed", "--params " + (m_dir / "changed.json").string() + " ")}) {
    for (const auto& entry : fs::directory_iterator(warm)) {
      const std::string name = entry.path().filename().string();
      if (name == "source.jpg" || !fs::exists(cold / name)) continue;
      const cv::Mat a = cv::imread((cold / name).string()), b = cv::imread(entry.path().string());
      ASSERT_FALSE(b.empty()) << name;
      EXPECT_TRUE(a.size() == b.size() && cv::norm(a, b, cv::NORM_INF) == 0)
          << warm.parent_path().parent_path().filename() << ": " << name << " differs from the cold run's";
      stagesDrawn.insert(name.substr(0, name.find('-')));
    }
  }
  // Regions, contours and line segments taken from the store are drawn as when computed.
  for (const char* stage : {"8", "22", "23"}) EXPECT_TRUE(stagesDrawn.count(stage)) << "no picture of stage " << stage;
}

TEST_F(StoreTool, AStoreKeyTagsEntriesAndEntriesOfAnotherKeyAreComputedAgain) {
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(320, 240))));
  std::ofstream(m_dir / "key-1", std::ios::binary) << "the first team key";
  std::ofstream(m_dir / "key-2", std::ios::binary) << "another key";
  const auto computed = [](const ToolRun& run) {
    int total = 0;
    const nlohmann::json summary = nlohmann::json::parse(run.out);
    for (const nlohmann::json& stage : summary["stages"]) total += stage["computed"].get<int>();
    return total;
  };
  const std::string base = "--quiet --json --store " + m_store.string() + " ";
  const ToolRun first = Tool(base + "--store-key " + (m_dir / "key-1").string() + " " + page.string());
  const ToolRun again = Tool(base + "--store-key " + (m_dir / "key-1").string() + " " + page.string());
  const ToolRun unkeyed = Tool(base + page.string());
  const ToolRun other = Tool(base + "--store-key " + (m_dir / "key-2").string() + " " + page.string());
  for (const ToolRun* run : {&first, &again, &unkeyed, &other}) ASSERT_EQ(run->exitCode, 0) << run->err;
  EXPECT_GT(computed(first), 0);
  EXPECT_EQ(computed(again), 0);
  EXPECT_EQ(computed(unkeyed), 0) << "without a key, tagged entries are read as any entry";
  EXPECT_EQ(computed(other), computed(first)) << "no entry of another key is taken";
  EXPECT_EQ(nlohmann::json::parse(other.out)["images"][0]["sets"], nlohmann::json::parse(first.out)["images"][0]["sets"]);
  EXPECT_EQ(Tool("--store-key " + (m_dir / "key-1").string() + " " + page.string()).exitCode, 2) << "a key needs a store";
  EXPECT_NE(Tool("--help").out.find("--store-key FILE"), std::string::npos);
  // Key files that cannot be keys.
  std::ofstream(m_dir / "empty");
  fs::create_directories(m_dir / "folder");
  for (const std::string& bad : {(m_dir / "empty").string(), (m_dir / "folder").string(), (m_dir / "missing").string()}) {
    const ToolRun run = Tool(base + "--store-key " + bad + " " + page.string());
    EXPECT_EQ(run.exitCode, 2) << bad;
    EXPECT_NE(run.err.find("--store-key"), std::string::npos) << run.err;
  }
}

}  // namespace
