// Real photographs and scans through the tool as a user runs it: every kind of image the
// tool reads, the full report with a picture of every result, two jobs and a store. The
// test runs in every build, so a sanitizer report or an abort fails it.
#include "../support/Photographs.h"
#include "../support/ToolRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace orvex {
namespace testing {
namespace {

namespace fs = std::filesystem;

// Each image's line without the figures that measure time or where a result came from.
std::map<std::string, nlohmann::json> Findings(const std::string& text) {
  std::map<std::string, nlohmann::json> findings;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json parsed = nlohmann::json::parse(line);
    findings[parsed["image"]] = parsed.contains("sets") ? parsed["sets"] : parsed;
  }
  return findings;
}

class Photographs : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) / ("photographs-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  ToolRun Tool(const std::string& arguments) { return RunTool(STAGECACHE_TOOL, arguments, m_dir / "stderr.txt"); }

  static void ExpectCleanRun(const ToolRun& run, const char* which) {
    EXPECT_EQ(run.exitCode, 0) << which << ":\n" << run.err;
    for (const char* report : {"Sanitizer", "runtime error", "orvex:"}) {
      EXPECT_EQ(run.err.find(report), std::string::npos) << which << " reported:\n" << run.err;
    }
  }

  fs::path m_dir;
};

TEST_F(Photographs, EveryPhotographAndScanRunsThroughTheFullReportAndAStoreWithTheSameFindings) {
  std::string files;
  for (const std::string& name : PhotographNames()) files += " '" + PhotographPath(name) + "'";
  const std::string store = " --store '" + (m_dir / "store").string() + "'";
  const fs::path report = m_dir / "report";

  const ToolRun cold = Tool("--quiet --jobs 2 --pictures all --out '" + report.string() + "'" + store + " --jsonl '" +
                            (m_dir / "cold.jsonl").string() + "'" + files);
  ExpectCleanRun(cold, "the first run");
  const std::map<std::string, nlohmann::json> first = Findings(ReadWholeFile(m_dir / "cold.jsonl"));
  ASSERT_EQ(first.size(), PhotographNames().size());
  int regions = 0;
  for (const auto& [image, sets] : first) {
    ASSERT_TRUE(sets.is_array()) << image << " was skipped: " << sets.dump();
    for (const nlohmann::json& set : sets) regions += static_cast<int>(set["regions"].size());
  }
  EXPECT_GT(regions, 0);
  EXPECT_TRUE(fs::is_regular_file(report / "index.html"));

  const ToolRun warm = Tool("--quiet --jobs 2" + store + " --jsonl '" + (m_dir / "warm.jsonl").string() + "'" + files);
  ExpectCleanRun(warm, "the run from the store");
  EXPECT_EQ(Findings(ReadWholeFile(m_dir / "warm.jsonl")), first);
}

}  // namespace
}  // namespace testing
}  // namespace orvex
