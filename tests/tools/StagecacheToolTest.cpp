// The stagecache command-line host, run as a user runs it.
#include "../support/TestScene.h"
#include "../support/ToolRunner.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using orvex::testing::ToolRun;

std::string ReadFile(const fs::path& path) { return orvex::testing::ReadWholeFile(path); }

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// A summary or an image's line without the figures that measure time.
nlohmann::json WithoutRunFigures(nlohmann::json document) {
  if (document.is_array()) {
    for (nlohmann::json& element : document) element = WithoutRunFigures(element);
    return document;
  }
  if (!document.is_object()) return document;
  for (const char* key : {"seconds", "wallSeconds", "librarySeconds", "libraryOverheadPercent",
                          "libraryOverheadPercentOfWall", "computeSeconds", "peakMemoryMiB", "computeMs", "store", "loaded"}) {
    document.erase(key);
  }
  for (auto& [key, value] : document.items()) value = WithoutRunFigures(value);
  return document;
}

// The lines of JSON Lines output, without times, by image name; each name at most once.
std::map<std::string, nlohmann::json> LinesByImage(const std::string& text) {
  std::map<std::string, nlohmann::json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const nlohmann::json parsed = nlohmann::json::parse(line);
    const std::string name = parsed["image"];
    EXPECT_TRUE(lines.emplace(name, WithoutRunFigures(parsed)).second) << name << " twice";
  }
  return lines;
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
    return orvex::testing::RunTool(STAGECACHE_TOOL, arguments, m_dir / "stderr.txt");
  }

  fs::path Write(const std::string& name, const std::string& text) {
    const fs::path path = m_dir / name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  // The built-in standard set under another name, to be changed by a test.
  nlohmann::json StandardSet(const std::string& name) {
    nlohmann::json set = nlohmann::json::parse(Tool("--print-default-params").out)["parameterSets"][0];
    set["name"] = name;
    return set;
  }
  fs::path WriteSets(const std::string& file, const std::vector<nlohmann::json>& sets) {
    return Write(file, nlohmann::json{{"parameterSets", sets}}.dump());
  }

  // A folder of drawn pages of different sizes, one of them twice, and a broken file.
  fs::path DrawnFolder(int pages) {
    const fs::path folder = m_dir / "pages";
    fs::create_directories(folder);
    for (int i = 0; i < pages; ++i) {
      const fs::path file = folder / ("page-" + std::to_string(i) + ".png");
      EXPECT_TRUE(cv::imwrite(file.string(), orvex::testing::DrawBarPage(cv::Size(320 + 24 * i, 240 + 16 * i))));
    }
    fs::copy_file(folder / "page-0.png", folder / "page-0-again.png");
    Write("pages/broken.png", "not a png");
    return folder;
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
  ASSERT_EQ(summary["sets"], nlohmann::json({"standard", "fine"}));
  const nlohmann::json& image = summary["images"][0];
  ASSERT_EQ(image["sets"].size(), 2u);
  for (const nlohmann::json& set : image["sets"]) {
    EXPECT_GT(set["regions"].size(), 0u) << set["name"];
    EXPECT_GT(set["lineSegments"].size(), 0u) << set["name"];
  }
  // The sets are told apart: the fine set finds more segments than the standard one.
  EXPECT_GT(image["sets"][1]["lineSegments"].size(), image["sets"][0]["lineSegments"].size());

  // The front page links the image's page, which links its pictures; nothing else.
  const std::string index = ReadFile(out / "index.html");
  const std::string page = ReadFile(out / "images" / "1-built-in_scene.html");
  ASSERT_FALSE(index.empty());
  ASSERT_FALSE(page.empty());
  EXPECT_NE(index.find("images/1-built-in_scene.html"), std::string::npos);
  int references = 0;
  for (const auto& [html, folder] : {std::make_pair(index, out), std::make_pair(page, out / "images")}) {
    for (const std::string attribute : {"src=\"", "href=\""}) {
      for (size_t at = html.find(attribute); at != std::string::npos; at = html.find(attribute, at + 1)) {
        const size_t begin = at + attribute.size();
        const std::string target = html.substr(begin, html.find('"', begin) - begin);
        if (target.empty() || target[0] == '#') continue;                // a link within the page
        if (target.rfind("http://www.w3.org", 0) == 0) continue;          // the SVG namespace, not a file
        EXPECT_TRUE(fs::exists(folder / target)) << target;
        ++references;
      }
    }
    EXPECT_EQ(html.find("https://"), std::string::npos);  // nothing from the network
  }
  EXPECT_GT(references, 20);
  // Each set's overlay over the source, one group each, with its own counts.
  EXPECT_EQ(Count(page, "data-set=\"standard\""), 2);  // in each of the two panels
  for (size_t s = 0; s < 2; ++s) {
    EXPECT_NE(page.find("<g id=\"set-" + std::to_string(s) + "\" data-regions=\"" +
                        std::to_string(image["sets"][s]["regions"].size()) + "\" data-lines=\"" +
                        std::to_string(image["sets"][s]["lineSegments"].size()) + "\""),
              std::string::npos) << s;
  }
  const std::string html = page;
  EXPECT_TRUE(fs::exists(out / "tree-1-standard.dot"));
  EXPECT_TRUE(fs::exists(out / "tree-2-fine.dot"));

  // Every tree node is drawn once, linked to a card with its parameters and compute time.
  int treeNodes = 0;
  for (const nlohmann::json& stage : summary["stages"]) treeNodes += stage["nodes"].get<int>();
  EXPECT_EQ(Count(html, "class=\"node\""), treeNodes);
  EXPECT_EQ(Count(html, "<div class=\"card"), treeNodes);
  EXPECT_EQ(Count(html, "<dt>compute time</dt>"), treeNodes);
  EXPECT_NE(html.find("BM_LOCAL_BLOCK"), std::string::npos);  // a binarization node's parameters

  // Results that are no images are drawn too: regions, texture, contours and line segments.
  for (const std::string stage : {"8-", "18-", "22-", "23-"}) {
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(out / "images" / "1-built-in_scene")) {
      if (entry.path().filename().string().rfind(stage, 0) != 0) continue;
      const cv::Mat picture = cv::imread(entry.path().string());
      ASSERT_FALSE(picture.empty()) << entry.path();
      cv::Scalar mean, deviation;
      cv::meanStdDev(picture, mean, deviation);
      EXPECT_GT(deviation[0] + deviation[1] + deviation[2], 1.0) << entry.path();  // not a blank canvas
      EXPECT_NE(html.find(entry.path().filename().string()), std::string::npos) << entry.path();
      ++pictures;
    }
    EXPECT_GT(pictures, 0) << stage;
  }
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
  // The file, the field, and the literals that would do.
  EXPECT_NE(run.err.find(literal.string() + ": parameterSets[0].binarizationModes[0].mode: unknown literal 'BM_FOO'; one of "
                         "BM_SKIP, BM_AUTO, BM_LOCAL_BLOCK, BM_THRESHOLD, BM_REV"), std::string::npos) << run.err;
  EXPECT_EQ(Count(run.err, "\n"), 1) << "one line: " << run.err;

  // A set whose tree would stop early: a list missing, only skips, or an unknown mode.
  nlohmann::json missing = StandardSet("short");
  missing.erase("lineExtractionModes");
  run = Tool("--params " + WriteSets("missing.json", {missing}).string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("missing.json: parameterSets[0].lineExtractionModes: missing"), std::string::npos) << run.err;
  nlohmann::json skips = StandardSet("skips");
  skips["grayscaleEnhancementModes"] = {{{"mode", "GEM_SKIP"}}};
  run = Tool("--params " + WriteSets("skips.json", {skips}).string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].grayscaleEnhancementModes: only skips: the tree would stop here"),
            std::string::npos) << run.err;
  nlohmann::json unknown = StandardSet("unknown");
  unknown["regionPredetectionModes"][0]["mode"] = 12345;
  run = Tool("--params " + WriteSets("unknown.json", {unknown}).string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].regionPredetectionModes[0].mode: 12345 is not a mode of this list; one of RPM_SKIP"),
            std::string::npos) << run.err;

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
  nlohmann::json hugeSet = StandardSet("x");
  hugeSet["binarizationModes"][0]["intArg1"] = 2147483647;
  const fs::path huge = WriteSets("huge.json", {hugeSet});
  run = Tool("--params " + huge.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("parameterSets[0].binarizationModes[0].intArg1: 2147483647 is out of range 0 .. 4095"),
            std::string::npos) << run.err;

  // An image over the pixel limit is refused from its header, with that reason.
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(200, 150))));
  run = Tool("--quiet --max-pixels 10000 " + page.string());
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("has 30000 pixels (200 x 150), more than the pixel limit of 10000"), std::string::npos) << run.err;
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
  const fs::path params = WriteSets("names.json", {StandardSet("a b"), StandardSet("a_b"), StandardSet("q\"x"), StandardSet(longName)});
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

TEST_F(StagecacheTool, BadOptionsSayWhatIsWrongInOneLineAndPrintedDefaultsRunLikeTheBuiltInOnes) {
  ToolRun run = Tool("--frobnicate");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(run.err, "stagecache: unknown option --frobnicate\nsee stagecache --help\n");
  EXPECT_EQ(Tool("--out").exitCode, 2);
  // An option where a value belongs is a forgotten value, not a file named like an option.
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(200, 150))));
  run = Tool("--jsonl --quiet " + page.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--jsonl needs a value"), std::string::npos) << run.err;
  EXPECT_FALSE(fs::exists("--quiet"));
  // No images is said, and is no success.
  fs::create_directories(m_dir / "empty");
  run = Tool("--quiet " + (m_dir / "empty").string());
  EXPECT_EQ(run.exitCode, 3);
  EXPECT_NE(run.err.find("no images"), std::string::npos) << run.err;
  EXPECT_EQ(run.out, "");
  run = Tool("--store-encoding gzip --store " + (m_dir / "store").string() + " " + page.string());
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("raw, lz4 or zstd, not 'gzip'"), std::string::npos) << run.err;

  run = Tool("--help");
  EXPECT_EQ(run.exitCode, 0);
  for (const char* option : {"--params", "--print-default-params", "--json", "--out", "--pictures", "--quiet", "--help", "--jobs", "--shard", "--jsonl", "--max-pixels", "--store-encoding"})
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

TEST_F(StagecacheTool, ResultsDoNotDependOnTheNumberOfJobs) {
  const fs::path folder = DrawnFolder(7);
  const ToolRun one = Tool("--quiet --json --jobs 1 --jsonl " + (m_dir / "one.jsonl").string() + " " + folder.string());
  const ToolRun three = Tool("--json --jobs 3 --jsonl " + (m_dir / "three.jsonl").string() + " " + folder.string());
  ASSERT_EQ(one.exitCode, 3) << one.err;  // the broken file is skipped
  ASSERT_EQ(three.exitCode, 3) << three.err;
  const nlohmann::json a = WithoutRunFigures(nlohmann::json::parse(one.out));
  const nlohmann::json b = WithoutRunFigures(nlohmann::json::parse(three.out));
  EXPECT_EQ(a["images"].size(), 8u);
  EXPECT_EQ(a, b);
  const auto linesOfOne = LinesByImage(ReadFile(m_dir / "one.jsonl"));
  EXPECT_EQ(linesOfOne.size(), 9u);
  EXPECT_EQ(linesOfOne, LinesByImage(ReadFile(m_dir / "three.jsonl")));
  // The copy of a page gives the page's results; the broken file says why it was skipped.
  nlohmann::json page = linesOfOne.at((folder / "page-0.png").string()), copy = linesOfOne.at((folder / "page-0-again.png").string());
  page.erase("image");
  copy.erase("image");
  EXPECT_EQ(page, copy);
  for (const nlohmann::json& set : page["sets"]) {
    EXPECT_FALSE(set["regions"].empty()) << set["name"];
    EXPECT_FALSE(set["lineSegments"].empty()) << set["name"];
  }
  EXPECT_EQ(linesOfOne.at((folder / "broken.png").string())["skipped"].get<std::string>().rfind("is not a PNG or JPEG image", 0), 0u);
  // Progress names how many images are done, the rate and the time left.
  EXPECT_NE(three.err.find("[9/9]"), std::string::npos) << three.err;
  EXPECT_NE(three.err.find("images/s"), std::string::npos);
  EXPECT_NE(three.err.find("s left"), std::string::npos);
}

TEST_F(StagecacheTool, ShardsOfAFolderTogetherGiveTheUnshardedResult) {
  const fs::path folder = DrawnFolder(5);
  const ToolRun whole = Tool("--quiet --jobs 2 --jsonl - " + folder.string());
  ASSERT_EQ(whole.exitCode, 3) << whole.err;
  const auto expected = LinesByImage(whole.out);  // standard output holds the lines alone
  ASSERT_EQ(expected.size(), 7u);
  std::map<std::string, nlohmann::json> together;
  for (int shard = 0; shard < 3; ++shard) {
    const ToolRun part = Tool("--quiet --jsonl - --shard " + std::to_string(shard) + "/3 " + folder.string());
    EXPECT_TRUE(part.exitCode == 0 || part.exitCode == 3) << part.err;
    const auto lines = LinesByImage(part.out);
    EXPECT_GE(lines.size(), 2u);  // 7 inputs over 3 shards: 3, 2 and 2
    for (const auto& [name, line] : lines) EXPECT_TRUE(together.emplace(name, line).second) << name << " in two shards";
  }
  EXPECT_EQ(together, expected);
  for (const char* bad : {"3/3", "1/0", "-1/2", "a/b", "1", "1/2x"}) {
    const ToolRun run = Tool(std::string("--shard ") + bad);
    EXPECT_EQ(run.exitCode, 2) << bad;
    EXPECT_NE(run.err.find("--shard needs K/N"), std::string::npos) << run.err;
  }
  EXPECT_EQ(Tool("--jobs 0").exitCode, 2);
}

TEST_F(StagecacheTool, ARunIntoAnEarlierReportLeavesNoStaleFilesAndPicturesGoToTheFirstImagesOnly) {
  const fs::path folder = DrawnFolder(4);
  const fs::path out = m_dir / "report";
  fs::create_directories(out);
  Write("report/notes.txt", "the user's own file");
  ASSERT_EQ(Tool("--quiet --pictures all --out " + out.string() + " " + folder.string()).exitCode, 3);
  const auto files = [&] {
    std::set<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(out)) found.insert(fs::relative(entry.path(), out).string());
    return found;
  };
  const std::set<std::string> all = files();
  const auto pictures = [](const std::set<std::string>& names) {
    return std::count_if(names.begin(), names.end(), [](const std::string& name) { return name.find(".png") != std::string::npos; });
  };
  EXPECT_GT(pictures(all), 100);

  // The same folder, now for one page and its pictures only: the old pages and pictures go.
  ASSERT_EQ(Tool("--quiet --pictures 0 --out " + out.string() + " " + (folder / "page-1.png").string()).exitCode, 0);
  const std::set<std::string> after = files();
  EXPECT_EQ(pictures(after), 0);
  EXPECT_TRUE(after.count("notes.txt")) << "a file the report did not write stays";
  EXPECT_TRUE(after.count("images/1-page-1_png.html"));
  EXPECT_FALSE(after.count("images/1-page-0_png.html"));
  EXPECT_FALSE(after.count("images/2-page-1_png.html"));
  EXPECT_LT(after.size(), 12u);

  // By default the first ten inputs get result pictures and drawn trees, the others not
  // (the first input, broken.png, is skipped).
  fs::remove_all(folder);
  const fs::path many = DrawnFolder(11);
  ASSERT_EQ(Tool("--quiet --out " + out.string() + " " + many.string()).exitCode, 3);
  EXPECT_NE(ReadFile(out / "images/3-page-0_png.html").find("<div class=\"card"), std::string::npos);
  EXPECT_EQ(ReadFile(out / "images/11-page-7_png.html").find("<div class=\"card"), std::string::npos);
  EXPECT_NE(ReadFile(out / "images/11-page-7_png.html").find("--pictures"), std::string::npos);
}

TEST_F(StagecacheTool, FourProcessesSharingAStoreInEveryEncodingAndARunAfterThemFindWhatARunWithoutFinds) {
  const fs::path folder = DrawnFolder(6);
  const ToolRun without = Tool("--quiet --jobs 1 --jsonl - " + folder.string());
  const auto expected = LinesByImage(without.out);
  const fs::path store = m_dir / "store";
  std::string together;
  const char* encodings[] = {"raw", "lz4", "zstd", "raw"};
  for (int p = 0; p < 4; ++p) {
    together += std::string(STAGECACHE_TOOL) + " --quiet --jobs 2 --store-encoding " + encodings[p] + " --store " + store.string() + " --jsonl " +
                (m_dir / ("p" + std::to_string(p) + ".jsonl")).string() + " " + folder.string() + " > /dev/null 2>&1 & ";
  }
  ASSERT_EQ(std::system((together + "wait").c_str()), 0);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(LinesByImage(ReadFile(m_dir / ("p" + std::to_string(p) + ".jsonl"))), expected) << p;
  // A run after them takes every result from the store and decodes no image.
  const ToolRun after = Tool("--quiet --json --store " + store.string() + " --jsonl " + (m_dir / "after.jsonl").string() + " " +
                             folder.string());
  EXPECT_EQ(LinesByImage(ReadFile(m_dir / "after.jsonl")), expected);
  const nlohmann::json summary = nlohmann::json::parse(after.out);
  EXPECT_EQ(summary["totals"]["computed"], 0);
  EXPECT_GT(summary["store"]["hits"].get<int>(), 0);
  EXPECT_EQ(summary["store"]["corrupt"], 0);
  const ToolRun check = Tool("--store " + store.string() + " --store-check");
  EXPECT_NE(check.out.find("0 damaged entries removed"), std::string::npos) << check.out;
}

TEST_F(StagecacheTool, ProcessesKilledWhileWritingLeaveNoEntryThatChangesAResult) {
  const fs::path folder = m_dir / "large";
  fs::create_directories(folder);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(cv::imwrite((folder / ("page-" + std::to_string(i) + ".png")).string(),
                            orvex::testing::DrawBarPage(cv::Size(1200 + 40 * i, 900 + 30 * i))));
  }
  const auto expected = LinesByImage(Tool("--quiet --jsonl - " + folder.string()).out);
  const fs::path store = m_dir / "store";
  for (int kill = 0; kill < 12; ++kill) {
    // Killed after 40 to 260 ms: while it computes and writes entries.
    const std::string run = std::string(STAGECACHE_TOOL) + " --quiet --store " + store.string() + " " + folder.string() +
                            " > /dev/null 2>&1 & pid=$!; sleep 0." + std::to_string(40 + 20 * kill).substr(0, 3) +
                            "; kill -9 $pid 2>/dev/null; wait $pid 2>/dev/null; true";
    ASSERT_EQ(std::system(("bash -c '" + run + "'").c_str()), 0);
  }
  const ToolRun after = Tool("--quiet --store " + store.string() + " --jsonl - " + folder.string());
  EXPECT_EQ(LinesByImage(after.out), expected);
  const ToolRun check = Tool("--store " + store.string() + " --store-check");
  EXPECT_NE(check.out.find("0 damaged entries removed"), std::string::npos) << check.out;
  EXPECT_EQ(Tool("--store " + store.string() + " --store-clear").exitCode, 0);
  EXPECT_NE(Tool("--store " + store.string() + " --store-show").out.find(": 0 entries"), std::string::npos);
}

TEST_F(StagecacheTool, AFullDiskIsOneWarningAndChangesNoResult) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
  const fs::path small = m_dir / "small";
  fs::create_directories(small);
  if (std::system(("mount -t tmpfs -o size=256k tmpfs " + small.string() + " 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "no tmpfs can be mounted here";
  }
  const fs::path folder = DrawnFolder(3);
  const auto expected = LinesByImage(Tool("--quiet --jsonl - " + folder.string()).out);
  const ToolRun full = Tool("--quiet --store " + (small / "store").string() + " --jsonl - " + folder.string());
  std::system(("umount " + small.string()).c_str());
  EXPECT_EQ(LinesByImage(full.out), expected);
  EXPECT_EQ(Count(full.err, "going on without writing"), 1) << full.err;
}

TEST_F(StagecacheTool, TreesTooLargeToDrawLegiblyAreDrawnByStageAndSaySo) {
  // The built-in standard set with 12 binarizations and 3 colour conversions: 838 nodes.
  nlohmann::json sets = nlohmann::json::parse(Tool("--print-default-params").out);
  nlohmann::json big = sets["parameterSets"][0];
  big["name"] = "big";
  const nlohmann::json binarization = big["binarizationModes"][0], conversion = big["colourConversionModes"][0];
  big["binarizationModes"] = nlohmann::json::array();
  for (int i = 0; i < 12; ++i) {
    big["binarizationModes"].push_back(binarization);
    big["binarizationModes"].back()["intArg1"] = 11 + 2 * i;
  }
  big["colourConversionModes"] = nlohmann::json::array();
  for (int channel = 0; channel < 3; ++channel) {
    big["colourConversionModes"].push_back(conversion);
    big["colourConversionModes"].back()["channel"] = channel;
  }
  sets["parameterSets"].push_back(big);
  const fs::path params = Write("big.json", sets.dump());
  const fs::path page = m_dir / "page.png";
  ASSERT_TRUE(cv::imwrite(page.string(), orvex::testing::DrawBarPage(cv::Size(320, 240))));
  const fs::path out = m_dir / "report";
  const ToolRun run = Tool("--quiet --json --params " + params.string() + " --out " + out.string() + " " + page.string());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json summary = nlohmann::json::parse(run.out);
  int nodes = 0;
  for (const nlohmann::json& stage : summary["stages"]) nodes += stage["nodes"].get<int>();
  const int smallTrees = 23 + 32;  // the two built-in sets, drawn node by node
  ASSERT_GT(nodes - smallTrees, 300);
  const std::string html = ReadFile(out / "images" / "1-page_png.html");
  EXPECT_NE(html.find("This tree has " + std::to_string(nodes - smallTrees) + " nodes, too many to draw legibly"),
            std::string::npos);
  EXPECT_EQ(Count(html, "class=\"node\""), smallTrees + 23);  // one box per stage for the big tree
  EXPECT_EQ(Count(html, "<div class=\"card"), smallTrees);
  EXPECT_NE(ReadFile(out / "tree-3-big.dot").find("n837"), std::string::npos);  // the DOT file keeps every node
}

}  // namespace
