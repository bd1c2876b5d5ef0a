// The stagecache command-line host, run as a user runs it.
#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class StagecacheTool : public ::testing::Test {
 protected:
  void SetUp() override {
    // The process id keeps runs of several builds at once apart.
    m_dir = fs::path(::testing::TempDir()) /
            ("stagecache-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Runs the tool with `arguments` (already quoted where needed).
  ToolRun Tool(const std::string& arguments) {
    const fs::path errFile = m_dir / "stderr.txt";
    const std::string command = std::string(STAGECACHE_TOOL) + " " + arguments + " 2>" + errFile.string();
    ToolRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t read;
    while ((read = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, read);
    const int status = pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadFile(errFile);
    return run;
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = m_dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path m_dir;
};

TEST_F(StagecacheTool, DefaultRunReportsEveryStageSharesResultsAndWritesACompleteReport) {
  const fs::path out = m_dir / "report";
  const ToolRun run = Tool("--json --quiet --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err, "");  // --quiet
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  ASSERT_EQ(summary["stages"].size(), 23u);
  for (int stage = 1; stage <= 23; ++stage) {
    EXPECT_EQ(summary["stages"][stage - 1]["stage"], stage);
    EXPECT_GT(summary["stages"][stage - 1]["nodes"].get<int>(), 0) << stage;
    EXPECT_GT(summary["stages"][stage - 1]["results"].get<int>(), 0) << stage;
  }
  EXPECT_GT(summary["totals"]["reused"].get<int>(), 0);  // the two built-in sets overlap
  EXPECT_GT(summary["totals"]["computed"].get<int>(), 0);
  ASSERT_EQ(summary["images"].size(), 1u);
  EXPECT_GT(summary["images"][0]["regions"].get<int>(), 0);
  EXPECT_GT(summary["images"][0]["lineSegments"].get<int>(), 0);

  const std::string html = ReadFile(out / "index.html");
  ASSERT_FALSE(html.empty());
  EXPECT_NE(html.find("<svg"), std::string::npos);
  int references = 0;
  for (const std::string attribute : {"src=\"", "href=\""}) {
    for (size_t at = html.find(attribute); at != std::string::npos; at = html.find(attribute, at + 1)) {
      const size_t begin = at + attribute.size();
      const std::string target = html.substr(begin, html.find('"', begin) - begin);
      if (target.empty() || target[0] == '#') continue;                // a link within the page
      if (target.rfind("http://www.w3.org", 0) == 0) continue;          // the SVG namespace, not a file
      EXPECT_TRUE(fs::exists(out / target)) << target;
      ++references;
    }
  }
  EXPECT_GT(references, 20);
  EXPECT_EQ(html.find("https://"), std::string::npos);  // nothing from the network
  EXPECT_TRUE(fs::exists(out / "tree-1-standard.dot"));
  EXPECT_TRUE(fs::exists(out / "tree-2-fine.dot"));
}

TEST_F(StagecacheTool, EveryImageOfAFolderIsProcessedWithProgressAndOtherFilesAreLeftOut) {
  const fs::path images = m_dir / "images";
  fs::create_directories(images);
  ASSERT_TRUE(cv::imwrite((images / "a.png").string(), orvex::testing::DrawBarPage(cv::Size(480, 360))));
  ASSERT_TRUE(cv::imwrite((images / "b.jpg").string(), orvex::testing::DrawBarPage(cv::Size(400, 320))));
  Write("images/notes.txt", "not an image, and not named like one");
  const ToolRun run = Tool(images.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("images: 2 processed, 0 skipped"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("line segments"), std::string::npos);
  EXPECT_NE(run.err.find("[2/2]"), std::string::npos);  // progress
}

TEST_F(StagecacheTool, UnreadableInputsAreNamedAndSkipped) {
  const fs::path good = m_dir / "good.png";
  ASSERT_TRUE(cv::imwrite(good.string(), orvex::testing::DrawBarPage(cv::Size(320, 240))));
  const fs::path text = Write("fake.png", "just text");
  const ToolRun run = Tool("--quiet --json " + good.string() + " " + text.string() + " " + (m_dir / "missing.jpg").string());
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("skipping " + text.string() + ": is not a PNG or JPEG image"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("missing.jpg: is missing"), std::string::npos) << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  EXPECT_EQ(summary["images"].size(), 1u);
  EXPECT_EQ(summary["skipped"].size(), 2u);
}

TEST_F(StagecacheTool, MalformedParameterFilesAreReportedWithTheirPlace) {
  const fs::path syntax = Write("syntax.json", "{\n  \"parameterSets\": [\n    {\"name\": \"x\",,}\n  ]\n}\n");
  ToolRun run = Tool("--params " + syntax.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("syntax.json:3:18"), std::string::npos) << run.err;

  const fs::path literal = Write("literal.json", R"({"parameterSets": [{"name": "x", "binarizationModes": [{"mode": "BM_FOO"}]}]})");
  run = Tool("--params " + literal.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].binarizationModes[0].mode: unknown literal 'BM_FOO'"), std::string::npos) << run.err;

  const fs::path field = Write("field.json", R"({"parameterSets": [{"name": "x", "lineExtractionModes": [{"mode": 0, "intArg11": 3}]}]})");
  run = Tool("--params " + field.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].lineExtractionModes[0]: unknown field 'intArg11'"), std::string::npos) << run.err;

  run = Tool("--params " + (m_dir / "absent.json").string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("cannot read the parameter file"), std::string::npos);

  // A number no double holds is refused like a syntax error, not thrown out of the tool.
  const fs::path overflow = Write("overflow.json", R"({"parameterSets": [{"name": "x", "binarizationModes": [{"mode": 1, "intArg1": -3e999}]}]})");
  run = Tool("--params " + overflow.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("overflow.json: number overflow parsing '-3e999'"), std::string::npos) << run.err;
}

TEST_F(StagecacheTool, HostileInputsAreRefusedWithTheirReasonAndTheRightExitCode) {
  // A file name that is not UTF-8, missing: skipped, and the JSON still written.
  const std::string latin1 = (m_dir / "caf\xe9.png").string();
  ToolRun run = Tool("--quiet --json '" + latin1 + "'");
  EXPECT_EQ(run.exitCode, 3) << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  EXPECT_EQ(summary["skipped"].size(), 1u);

  // A parameter file that is a FIFO or a device is refused at once, never read.
  const fs::path fifo = m_dir / "params.fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo.string(), std::string("/dev/zero")}) {
    run = Tool("--params " + path);
    EXPECT_EQ(run.exitCode, 2) << path;
    EXPECT_NE(run.err.find("not a regular file"), std::string::npos) << run.err;
  }

  // A block size that would take all the memory: the field's path, exit 2.
  const fs::path huge = Write("huge.json", R"({"parameterSets": [{"name": "x", "binarizationModes": [{"mode": "BM_LOCAL_BLOCK", "intArg1": 2147483647}]}]})");
  run = Tool("--params " + huge.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].binarizationModes[0].intArg1: 2147483647 is out of range 0 .. 4095"),
            std::string::npos) << run.err;

  // An image over the pixel limit is refused from its header, with that reason.
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(200, 150))));
  run = Tool("--quiet --max-pixels 10000 " + page.string());
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("more pixels than the pixel limit"), std::string::npos) << run.err;
  EXPECT_EQ(Tool("--max-pixels 0").exitCode, 2);
  EXPECT_EQ(Tool("--max-pixels lots").exitCode, 2);

  // Links in a folder that lead nowhere or in a circle are named as skipped.
  const fs::path folder = m_dir / "links";
  fs::create_directories(folder);
  fs::copy_file(page, folder / "real.png");
  fs::create_symlink(folder / "absent.png", folder / "dangling.png");
  fs::create_symlink(folder / "loop-b.png", folder / "loop-a.png");
  fs::create_symlink(folder / "loop-a.png", folder / "loop-b.png");
  run = Tool("--quiet " + folder.string());
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("dangling.png: is a symbolic link to nothing"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("loop-a.png: is a symbolic link in a loop"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("images: 1 processed, 3 skipped"), std::string::npos) << run.out;
}

TEST_F(StagecacheTool, ReportFilesHaveUniqueShortEscapedNamesAndFailuresAreNamed) {
  const std::string longName(4096, 'n');
  const fs::path params = Write("names.json", "{\"parameterSets\": [{\"name\": \"a b\"}, {\"name\": \"a_b\"}, {\"name\": \"q\\\"x\"}, "
                                              "{\"name\": \"" + longName + "\"}]}");
  const fs::path out = m_dir / "report";
  ToolRun run = Tool("--quiet --params " + params.string() + " --out " + out.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> dots;
  for (const auto& entry : fs::directory_iterator(out))
    if (entry.path().extension() == ".dot") dots.push_back(entry.path().filename().string());
  ASSERT_EQ(dots.size(), 4u);
  for (const std::string& dot : dots) EXPECT_LE(dot.size(), 60u) << dot;
  EXPECT_NE(ReadFile(out / "tree-3-q_x.dot").find("digraph \"q\\\"x\""), std::string::npos);
  const std::string html = ReadFile(out / "index.html");
  for (const std::string& dot : dots) EXPECT_NE(html.find(dot), std::string::npos) << dot;

  // A report file that cannot be written (a folder stands where index.html goes): exit 1,
  // the file named.
  const fs::path blocked = m_dir / "blocked";
  fs::create_directories(blocked / "index.html");
  run = Tool("--quiet --out " + blocked.string());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("cannot write " + (blocked / "index.html").string()), std::string::npos) << run.err;
}

TEST_F(StagecacheTool, BadOptionsGiveUsageAndPrintedDefaultsRunLikeTheBuiltInOnes) {
  ToolRun run = Tool("--frobnicate");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("unknown option --frobnicate"), std::string::npos);
  EXPECT_NE(run.err.find("usage: stagecache"), std::string::npos);
  EXPECT_EQ(Tool("--out").exitCode, 2);

  run = Tool("--help");
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option : {"--params", "--print-default-params", "--json", "--out", "--quiet", "--help"})
    EXPECT_NE(run.out.find(option), std::string::npos) << option;

  run = Tool("--print-default-params");
  ASSERT_EQ(run.exitCode, 0);
  const fs::path defaults = Write("defaults.json", run.out);
  const nlohmann::json sets = nlohmann::json::parse(run.out);
  EXPECT_EQ(sets["parameterSets"].size(), 2u);
  EXPECT_EQ(sets["parameterSets"][0]["binarizationModes"][0]["mode"], "BM_LOCAL_BLOCK");
  const ToolRun fromFile = Tool("--quiet --json --params " + defaults.string());
  const ToolRun builtIn = Tool("--quiet --json");
  ASSERT_EQ(fromFile.exitCode, 0) << fromFile.err;
  const nlohmann::json a = nlohmann::json::parse(fromFile.out), b = nlohmann::json::parse(builtIn.out);
  for (size_t stage = 0; stage < 23; ++stage) {
    for (const char* column : {"nodes", "results", "computed", "adopted"}) EXPECT_EQ(a["stages"][stage][column], b["stages"][stage][column]);
  }
}

}  // namespace
