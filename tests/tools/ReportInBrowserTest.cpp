// The default report of the stagecache host, opened in a headless Chromium as a reader
// opens it from the file system.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Put first into a copy of the page: collects the errors the page raises and, once it has
// loaded, writes what it found into a <pre id="report-check"> as JSON.
const char kCheckScript[] = R"(<script>
window.reportErrors = [];
window.addEventListener('error', function (event) {
  var target = event.target;
  window.reportErrors.push(target && target.tagName === 'IMG' ? 'image failed: ' + target.getAttribute('src')
                                                               : String(event.message));
}, true);
window.addEventListener('load', function () {
  var images = Array.prototype.slice.call(document.images);
  var result = {
    errors: window.reportErrors,
    treeNodes: document.querySelectorAll('.tree-box svg g.node').length,
    overlays: document.querySelectorAll('.panel svg use.set').length,
    shownOverlays: Array.prototype.filter.call(document.querySelectorAll('#p1 svg use.set'),
                                               function (g) { return getComputedStyle(g).display !== 'none'; }).length,
    images: images.length,
    undecoded: images.filter(function (i) { return !(i.complete && i.naturalWidth > 0); })
                     .map(function (i) { return i.getAttribute('src'); })
  };
  var pre = document.createElement('pre');
  pre.id = 'report-check';
  pre.textContent = JSON.stringify(result);
  document.body.appendChild(pre);
});
</script>)";

class ReportInBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) / ("stagecache-browser-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  // Runs Chromium headless on a page of the report with `arguments`; its exit code.
  int Chromium(const std::string& arguments, const fs::path& page, const fs::path& out, const fs::path& log) {
    const std::string command = "timeout 180 " + std::string(CHROMIUM) +
                                " --headless --no-sandbox --disable-gpu --no-first-run --hide-scrollbars"
                                " --enable-logging=stderr --v=0 --user-data-dir=" + (m_dir / "profile").string() + " " +
                                arguments + " 'file://" + page.string() + "' >" + out.string() + " 2>" + log.string();
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path m_dir;
};

TEST_F(ReportInBrowser, DefaultReportsImagePageLoadsWithoutErrorsDrawsEveryNodeAndOneOverlayAtATime) {
  const fs::path report = m_dir / "report";
  const fs::path summaryFile = m_dir / "summary.json";
  const std::string run = std::string(STAGECACHE_TOOL) + " --quiet --json --out " + report.string() + " >" + summaryFile.string();
  ASSERT_EQ(std::system(run.c_str()), 0);
  const nlohmann::json summary = nlohmann::json::parse(ReadFile(summaryFile));
  int treeNodes = 0;
  for (const nlohmann::json& stage : summary["stages"]) treeNodes += stage["nodes"].get<int>();

  // The image's page with the check in front of everything else, beside the original.
  std::string page = ReadFile(report / "images" / "1-built-in_scene.html");
  const size_t head = page.find("<head>");
  ASSERT_NE(head, std::string::npos);
  page.insert(head + 6, kCheckScript);
  std::ofstream(report / "images" / "check.html", std::ios::binary) << page;

  const fs::path dom = m_dir / "dom.html", log = m_dir / "chromium.log";
  ASSERT_EQ(Chromium("--virtual-time-budget=15000 --dump-dom", report / "images" / "check.html", dom, log), 0) << ReadFile(log);
  const std::string dumped = ReadFile(dom);
  const std::string open = "<pre id=\"report-check\">";
  const size_t begin = dumped.find(open);
  ASSERT_NE(begin, std::string::npos) << "the page never finished loading\n" << ReadFile(log);
  const size_t end = dumped.find("</pre>", begin);
  const nlohmann::json found = nlohmann::json::parse(dumped.substr(begin + open.size(), end - begin - open.size()));
  EXPECT_TRUE(found["errors"].empty()) << found["errors"];
  EXPECT_EQ(ReadFile(log).find("Uncaught"), std::string::npos) << ReadFile(log);
  EXPECT_EQ(found["treeNodes"].get<int>(), treeNodes);
  EXPECT_GT(found["images"].get<int>(), treeNodes / 2);  // a picture of every result that has one
  EXPECT_TRUE(found["undecoded"].empty()) << found["undecoded"];
  EXPECT_EQ(found["overlays"].get<int>(), 4);  // both sets in both panels
  EXPECT_EQ(found["shownOverlays"].get<int>(), 1);

  // A screenshot of the page as it opens: not blank.
  const char* wanted = std::getenv("ORVEX_REPORT_SCREENSHOT");
  const fs::path screenshot = wanted != nullptr ? fs::path(wanted) : m_dir / "report.png";
  ASSERT_EQ(Chromium("--window-size=1400,3200 --screenshot=" + screenshot.string(), report / "images" / "1-built-in_scene.html",
                     m_dir / "shot.out", log), 0) << ReadFile(log);
  const cv::Mat picture = cv::imread(screenshot.string());
  ASSERT_FALSE(picture.empty()) << screenshot;
  EXPECT_EQ(picture.cols, 1400);
  cv::Mat small;
  cv::resize(picture, small, cv::Size(140, 320), 0, 0, cv::INTER_AREA);
  std::set<int> colours;
  for (int y = 0; y < small.rows; ++y)
    for (int x = 0; x < small.cols; ++x) {
      const cv::Vec3b p = small.at<cv::Vec3b>(y, x);
      colours.insert((p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3));
    }
  EXPECT_GT(colours.size(), 100u);  // text, tables, photographs and trees, not one flat colour
}

}  // namespace
