// The explore page in a real browser: headless Chromium opens it with the token, a block
// size is changed in the set's panel as a user types it, and the page shows the new
// overlay and what the edit cost. Chromium is driven through its DevTools protocol over
// --remote-debugging-pipe: JSON messages on two pipes, no port and no websocket, and the
// page itself carries no test code.
#include "../support/ExploreProcess.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kBinarizationStage = 17;

std::vector<unsigned char> FromBase64(const std::string& text) {
  std::vector<unsigned char> bytes;
  unsigned int bits = 0;
  int count = 0;
  for (char c : text) {
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+') value = 62;
    else if (c == '/') value = 63;
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<unsigned int>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(static_cast<unsigned char>((bits >> count) & 0xff));
    }
  }
  return bytes;
}

// Headless Chromium with its DevTools protocol on two pipes (fd 3 to the browser, fd 4
// from it), each message a JSON text ended by a null byte.
class Browser {
 public:
  ~Browser() { Close(); }

  bool Launch(const fs::path& profile, const fs::path& log) {
    int toBrowser[2], fromBrowser[2];
    if (pipe(toBrowser) != 0 || pipe(fromBrowser) != 0) return false;
    m_pid = fork();
    if (m_pid == 0) {
      // Out of the way of 3 and 4 first, then into them.
      const int in = fcntl(toBrowser[0], F_DUPFD, 10), out = fcntl(fromBrowser[1], F_DUPFD, 10);
      for (int fd : {toBrowser[0], toBrowser[1], fromBrowser[0], fromBrowser[1]}) close(fd);
      dup2(in, 3);
      dup2(out, 4);
      close(in);
      close(out);
      const int logFile = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(logFile, STDOUT_FILENO);
      dup2(logFile, STDERR_FILENO);
      close(logFile);
      const std::string userData = "--user-data-dir=" + profile.string();
      execl(CHROMIUM, CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync", "--hide-scrollbars",
            "--remote-debugging-pipe", "--window-size=1500,1400", userData.c_str(), "about:blank", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(toBrowser[0]);
    close(fromBrowser[1]);
    m_toBrowser = toBrowser[1];
    m_fromBrowser = fromBrowser[0];
    return m_pid > 0;
  }

  // Sends a command and waits for its answer's "result"; throws with the error or on a
  // silence of 60 seconds.
  json Call(const std::string& method, const json& parameters = json::object()) {
    json message = {{"id", ++m_lastId}, {"method", method}, {"params", parameters}};
    if (!m_session.empty()) message["sessionId"] = m_session;
    const std::string text = message.dump() + '\0';
    for (size_t sent = 0; sent < text.size();) {
      const ssize_t n = write(m_toBrowser, text.data() + sent, text.size() - sent);
      if (n <= 0) throw std::runtime_error("the browser's pipe is closed");
      sent += static_cast<size_t>(n);
    }
    for (;;) {
      const json answer = Next();
      if (!answer.contains("id") || answer["id"] != m_lastId) continue;
      if (answer.contains("error")) throw std::runtime_error(method + ": " + answer["error"].dump());
      return answer["result"];
    }
  }

  void Attach(const std::string& session) { m_session = session; }

  // The value of a JavaScript expression in the page.
  json Evaluate(const std::string& expression) {
    const json result = Call("Runtime.evaluate", {{"expression", expression}, {"returnByValue", true}, {"awaitPromise", true}});
    if (result.contains("exceptionDetails")) throw std::runtime_error("script failed: " + result["exceptionDetails"].dump());
    return result["result"].value("value", json());
  }

  // Waits until the expression is true; false after `seconds`.
  bool WaitFor(const std::string& expression, int seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (Clock::now() < deadline) {
      if (Evaluate(expression) == json(true)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  void Close() {
    if (m_pid <= 0) return;
    try {
      m_session.clear();
      Call("Browser.close");
    } catch (const std::exception&) {
      // Closed already; it is ended below.
    }
    close(m_toBrowser);
    close(m_fromBrowser);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (waitpid(m_pid, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    m_pid = -1;
  }

 private:
  json Next() {
    for (;;) {
      const size_t end = m_buffer.find('\0');
      if (end != std::string::npos) {
        const std::string text = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 1);
        return json::parse(text);
      }
      pollfd wait{m_fromBrowser, POLLIN, 0};
      if (poll(&wait, 1, 60000) <= 0) throw std::runtime_error("the browser said nothing for 60 seconds");
      char chunk[65536];
      const ssize_t got = read(m_fromBrowser, chunk, sizeof chunk);
      if (got <= 0) throw std::runtime_error("the browser closed its pipe");
      m_buffer.append(chunk, static_cast<size_t>(got));
    }
  }

  pid_t m_pid = -1;
  int m_toBrowser = -1;
  int m_fromBrowser = -1;
  int m_lastId = 0;
  std::string m_session;
  std::string m_buffer;
};

// Collects what the page throws, from before its own script runs.
const char kErrorCollector[] =
    "window.pageErrors = [];"
    "addEventListener('error', e => pageErrors.push(e.target && e.target.tagName === 'IMG' ? 'image failed: ' + e.target.src : String(e.message)), true);"
    "addEventListener('unhandledrejection', e => pageErrors.push(String(e.reason)));";

// The page's state as the test reads it.
const char kPageState[] = R"(JSON.stringify({
  runs: Number(document.body.dataset.runs),
  lines: (document.querySelector('#overlay-groups #set-0 path:last-child') || {getAttribute: () => ''}).getAttribute('d'),
  shownLines: document.querySelector('#set-0') ? Number(document.querySelector('#set-0').dataset.lines) : -1,
  choices: Array.from(document.querySelectorAll('#p1 .choices button')).map(b => b.textContent),
  cost: Array.from(document.querySelectorAll('#cost tr[data-stage]')).map(r => ({
    stage: Number(r.dataset.stage), computed: Number(r.dataset.computed), reused: Number(r.dataset.reused)})),
  treeNodes: document.querySelectorAll('#tree svg g.node').length,
  error: document.querySelector('#sets fieldset[data-set="0"] .error').textContent,
  invalid: Array.from(document.querySelectorAll('.invalid')).map(i => i.dataset.path),
  errors: window.pageErrors}))";

// Types a value into a field of the panel as a user does: the input changes, then loses focus.
std::string Type(const std::string& path, const std::string& value) {
  return "(() => { const input = document.querySelector('[data-path=\"" + path + "\"]');"
         " input.focus(); input.value = '" + value + "'; input.dispatchEvent(new Event('change', {bubbles: true}));"
         " input.blur(); return true; })()";
}

class ExploreInBrowser : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) / ("explore-browser-" + std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
  }
  void TearDown() override { if (!HasFailure()) fs::remove_all(m_dir); }

  json State() { return json::parse(m_browser.Evaluate(kPageState).get<std::string>()); }

  fs::path m_dir;
  orvex::testing::ExploreProcess m_server;
  Browser m_browser;
};

TEST_F(ExploreInBrowser, ABlockSizeTypedInThePanelRedrawsTheOverlayAndShowsOnlyTheBinarizationAndBelowComputed) {
  ASSERT_TRUE(m_server.Start(STAGECACHE_TOOL, {}, m_dir / "server.txt")) << m_server.Problem();
  ASSERT_TRUE(m_browser.Launch(m_dir / "profile", m_dir / "chromium.txt"));
  const std::string target = m_browser.Call("Target.createTarget", {{"url", "about:blank"}})["targetId"];
  m_browser.Attach(m_browser.Call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})["sessionId"]);
  m_browser.Call("Page.enable");
  m_browser.Call("Page.addScriptToEvaluateOnNewDocument", {{"source", kErrorCollector}});
  m_browser.Call("Page.navigate", {{"url", m_server.Address()}});
  ASSERT_TRUE(m_browser.WaitFor("document.body && document.body.dataset.busy === 'false' && document.body.dataset.runs === '1'", 120))
      << m_browser.Evaluate("document.documentElement.outerHTML.slice(0, 2000)");
  // The token left the address for the cookie.
  EXPECT_EQ(m_browser.Evaluate("location.search"), "");
  const json first = State();
  EXPECT_TRUE(first["errors"].empty()) << first["errors"];
  ASSERT_EQ(first["choices"].size(), 2u);
  EXPECT_NE(first["choices"][0].get<std::string>().find("standard ("), std::string::npos);
  EXPECT_GT(first["treeNodes"].get<int>(), 20);
  EXPECT_GT(first["shownLines"].get<int>(), 0);

  // A block size typed into the first set's binarization record.
  ASSERT_TRUE(m_browser.Evaluate(Type("parameterSets[0].binarizationModes[0].intArg1", "21")).get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && document.body.dataset.runs === '2'", 120));
  const json edited = State();
  EXPECT_NE(edited["lines"], first["lines"]);  // the overlay changed
  ASSERT_EQ(edited["cost"].size(), 23u);
  for (const json& stage : edited["cost"]) {
    if (stage["stage"].get<int>() < kBinarizationStage) {
      EXPECT_EQ(stage["computed"], 0) << stage;
      EXPECT_GT(stage["reused"], 0) << stage;
    } else {
      EXPECT_GT(stage["computed"], 0) << stage;
    }
  }

  // A value out of range is refused with the parameter file's message, at its field.
  ASSERT_TRUE(m_browser.Evaluate(Type("parameterSets[0].binarizationModes[0].intArg1", "100000")).get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && "
                                "document.querySelector('#sets .error').textContent !== ''", 120));
  const json refused = State();
  EXPECT_NE(refused["error"].get<std::string>().find("parameterSets[0].binarizationModes[0].intArg1: 100000 is out of range"),
            std::string::npos) << refused["error"];
  EXPECT_EQ(refused["invalid"], json::array({"parameterSets[0].binarizationModes[0].intArg1"}));
  EXPECT_EQ(refused["lines"], edited["lines"]);  // the last good overlay stays
  ASSERT_TRUE(m_browser.Evaluate(Type("parameterSets[0].binarizationModes[0].intArg1", "23")).get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && document.body.dataset.runs === '3'", 120));
  const json corrected = State();
  EXPECT_TRUE(corrected["error"].get<std::string>().empty());
  EXPECT_TRUE(corrected["invalid"].empty());
  EXPECT_GT(corrected["cost"][kBinarizationStage - 1]["computed"], 0);

  // A click on the binarization node shows its card with the pictures of its results.
  ASSERT_TRUE(m_browser.Evaluate("(() => { document.querySelector('#tree a[*|href=\"#tc16\"]')"
                                 ".dispatchEvent(new MouseEvent('click', {bubbles: true, cancelable: true})); return true; })()")
                  .get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("Array.from(document.querySelectorAll('#details img')).some(i => i.complete && i.naturalWidth > 0)", 60));
  EXPECT_NE(m_browser.Evaluate("document.querySelector('#details').textContent").get<std::string>().find("17 region binary image"),
            std::string::npos);
  EXPECT_TRUE(State()["errors"].empty()) << State()["errors"];

  // The page as a user sees it after the edit, with the edited list open.
  m_browser.Evaluate("(() => { document.querySelector('details[data-path=\"parameterSets[0].binarizationModes\"]').open = true;"
                     " document.getElementById('side-by-side').click(); return true; })()");
  m_browser.Evaluate("new Promise(done => setTimeout(() => done(true), 500))");
  const json shot = m_browser.Call("Page.captureScreenshot", {{"format", "png"}});
  const std::vector<unsigned char> png = FromBase64(shot["data"].get<std::string>());
  const cv::Mat picture = cv::imdecode(png, cv::IMREAD_COLOR);
  ASSERT_FALSE(picture.empty());
  const char* wanted = std::getenv("ORVEX_EXPLORE_SCREENSHOT");
  if (wanted != nullptr) std::ofstream(wanted, std::ios::binary).write(reinterpret_cast<const char*>(png.data()), png.size());
  cv::Mat small;
  cv::resize(picture, small, cv::Size(150, 140), 0, 0, cv::INTER_AREA);
  std::set<int> colours;
  for (int y = 0; y < small.rows; ++y)
    for (int x = 0; x < small.cols; ++x) {
      const cv::Vec3b p = small.at<cv::Vec3b>(y, x);
      colours.insert((p[0] >> 3) << 10 | (p[1] >> 3) << 5 | (p[2] >> 3));
    }
  EXPECT_GT(colours.size(), 100u);  // the page, its pictures and panels, not one flat colour

  // A copied set has the parameters of its original: it shares the tree, nothing is computed.
  ASSERT_TRUE(m_browser.Evaluate("(() => { document.querySelector('#sets fieldset[data-set=\"0\"] legend button').click(); return true; })()")
                  .get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && document.body.dataset.runs === '4'", 120));
  const json copied = State();
  ASSERT_EQ(copied["choices"].size(), 3u);
  EXPECT_NE(copied["choices"][1].get<std::string>().find("standard copy ("), std::string::npos) << copied["choices"];
  for (const json& stage : copied["cost"]) EXPECT_EQ(stage["computed"], 0) << stage;
  // Renamed, then removed again.
  ASSERT_TRUE(m_browser.Evaluate(Type("parameterSets[1].name", "narrow blocks")).get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && document.body.dataset.runs === '5'", 120));
  EXPECT_NE(State()["choices"][1].get<std::string>().find("narrow blocks ("), std::string::npos);
  ASSERT_TRUE(m_browser.Evaluate("(() => { document.querySelectorAll('#sets fieldset[data-set=\"1\"] legend button')[1].click();"
                                 " return true; })()").get<bool>());
  ASSERT_TRUE(m_browser.WaitFor("document.body.dataset.busy === 'false' && document.body.dataset.runs === '6'", 120));
  EXPECT_EQ(State()["choices"].size(), 2u);
  EXPECT_TRUE(State()["errors"].empty()) << State()["errors"];
  m_browser.Close();
  EXPECT_EQ(m_server.Stop(), 0);
}

}  // namespace
