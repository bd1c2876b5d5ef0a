// The `stagecache explore` server, started as a user starts it and driven over HTTP:
// who may drive it, what hostile requests get, that an edit recomputes only what it
// changes, that its findings equal the tool's --jsonl for the same sets, and that it
// serves on after each of these and stops cleanly on Ctrl-C.
#include "../support/ExploreProcess.h"
#include "../support/TestScene.h"
#include "../support/ToolRunner.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using orvex::testing::ExploreProcess;

constexpr int kBinarizationStage = 17;
constexpr int kLineSegmentsStage = 23;

std::string ReadFile(const fs::path& path) { return orvex::testing::ReadWholeFile(path); }

// A set list with the first binarization record's block size of set `set` changed.
json WithBlockSize(json sets, size_t set, int blockSize) {
  sets[set]["binarizationModes"][0]["intArg1"] = blockSize;
  return sets;
}

class ExploreServer : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::path(::testing::TempDir()) /
            ("explore-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
             std::to_string(getpid()));
    fs::remove_all(m_dir);
    fs::create_directories(m_dir);
    for (int i = 0; i < 2; ++i) {
      m_images.push_back((m_dir / ("page-" + std::to_string(i) + ".png")).string());
      ASSERT_TRUE(cv::imwrite(m_images.back(), orvex::testing::DrawBarPage(cv::Size(720 + 80 * i, 540))));
    }
  }
  void TearDown() override {
    if (m_started) {
      // Whatever the test did, the server still answers, and Ctrl-C stops it with exit code 0.
      EXPECT_EQ(Get("/api/state")->status, 200);
      EXPECT_EQ(m_server.Stop(), 0) << ReadFile(m_dir / "stderr.txt");
    }
    fs::remove_all(m_dir);
  }

  void Start(std::vector<std::string> options = {}) {
    options.insert(options.end(), m_images.begin(), m_images.end());
    ASSERT_TRUE(m_server.Start(STAGECACHE_TOOL, options, m_dir / "stderr.txt"))
        << m_server.Problem() << ReadFile(m_dir / "stderr.txt");
    m_started = true;
  }

  httplib::Client Client(const std::string& tab = "tab-main") {
    httplib::Client client("127.0.0.1", m_server.Port());
    client.set_read_timeout(300, 0);
    client.set_default_headers({{"X-Explore-Token", m_server.Token()}, {"X-Explore-Tab", tab}});
    return client;
  }
  httplib::Result Get(const std::string& path, const httplib::Headers& headers = {}) { return Client().Get(path, headers); }
  httplib::Result Post(const std::string& path, const json& body, const std::string& tab = "tab-main") {
    return Client(tab).Post(path, body.dump(), "application/json");
  }
  // A recompute answer, asserting that it succeeded.
  json Run(size_t image, const json& sets, const std::string& tab = "tab-main") {
    httplib::Result answer = Post("/api/run", {{"image", image}, {"sets", sets}, {"findings", true}}, tab);
    EXPECT_TRUE(answer);
    if (!answer) return json();
    EXPECT_EQ(answer->status, 200) << answer->body;
    return json::parse(answer->body);
  }
  json DefaultSets() { return json::parse(Get("/api/state")->body)["sets"]; }

  // The tool's --jsonl lines for these sets and the test images: each image's "sets".
  std::vector<json> ToolFindings(const json& sets) {
    const fs::path params = m_dir / "tool-params.json";
    std::ofstream(params) << json{{"parameterSets", sets}}.dump();
    std::string arguments = "--quiet --jobs 1 --params " + params.string() + " --jsonl -";
    for (const std::string& image : m_images) arguments += " " + image;
    const orvex::testing::ToolRun run = orvex::testing::RunTool(STAGECACHE_TOOL, arguments, m_dir / "tool-stderr.txt");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<json> found(m_images.size());
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      const json parsed = json::parse(line);
      for (size_t i = 0; i < m_images.size(); ++i)
        if (parsed["image"] == m_images[i]) found[i] = parsed["sets"];
    }
    return found;
  }

  // What the tool's parameter reader says of a file holding these sets, after its name.
  std::string ToolMessage(const json& sets) {
    const fs::path params = m_dir / "refused.json";
    std::ofstream(params) << json{{"parameterSets", sets}}.dump();
    const orvex::testing::ToolRun run =
        orvex::testing::RunTool(STAGECACHE_TOOL, "--quiet --params " + params.string(), m_dir / "tool-stderr.txt");
    EXPECT_EQ(run.exitCode, 2);
    const std::string prefix = "stagecache: " + params.string() + ": ";
    const size_t at = run.err.find(prefix);
    return at == std::string::npos ? run.err : run.err.substr(at + prefix.size(), run.err.find('\n', at) - at - prefix.size());
  }

  // Sends raw bytes on a new connection; the status line and headers that came back (or
  // what came before the server closed it or two seconds passed).
  // With `thenStop`, the client sends nothing more after the bytes.
  std::string Raw(const std::string& bytes, bool thenStop = false) {
    const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_server.Port()));
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    std::string answer;
    if (connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
      send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (thenStop) shutdown(socket, SHUT_WR);
      timeval timeout{2, 0};
      setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
      char buffer[4096];
      for (ssize_t got; answer.find("\r\n\r\n") == std::string::npos && (got = recv(socket, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(got));
    }
    close(socket);
    return answer;
  }

  fs::path m_dir;
  std::vector<std::string> m_images;
  ExploreProcess m_server;
  bool m_started = false;
};

TEST_F(ExploreServer, RequestsWithoutTheTokenOrWithAnotherOneAreRefused) {
  Start();
  httplib::Client bare("127.0.0.1", m_server.Port());
  EXPECT_EQ(bare.Get("/api/state")->status, 403);
  EXPECT_EQ(bare.Get("/")->status, 403);
  EXPECT_EQ(bare.Post("/api/run", R"({"image":0,"sets":[]})", "application/json")->status, 403);
  std::string other = m_server.Token();
  other[0] = other[0] == 'a' ? 'b' : 'a';
  EXPECT_EQ(bare.Get("/api/state", {{"X-Explore-Token", other}})->status, 403);
  EXPECT_EQ(bare.Get("/api/state", {{"Cookie", "stagecache-explore-" + std::to_string(m_server.Port()) + "=" + other}})->status, 403);
  // The address's token only opens the page, which hands it over as a cookie.
  EXPECT_EQ(bare.Get("/api/state?token=" + m_server.Token())->status, 403);
  httplib::Result entry = bare.Get("/?token=" + m_server.Token());
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->status, 303);
  const std::string cookie = entry->get_header_value("Set-Cookie");
  EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
  EXPECT_NE(cookie.find("SameSite=Strict"), std::string::npos);
  const httplib::Headers withCookie = {{"Cookie", cookie.substr(0, cookie.find(';'))}};
  httplib::Result pageAnswer = bare.Get("/", withCookie);
  EXPECT_EQ(pageAnswer->status, 200);
  EXPECT_NE(pageAnswer->body.find("explore.js"), std::string::npos);
  EXPECT_EQ(bare.Get("/api/state", withCookie)->status, 200);
}

TEST_F(ExploreServer, RequestsNamingAForeignHostOrOriginAreRefused) {
  Start();
  const std::string port = std::to_string(m_server.Port());
  for (const std::string& host : std::vector<std::string>{"attacker.example:" + port, "attacker.example",
                                                         "127.0.0.1:" + std::to_string(m_server.Port() + 1), "localhost"}) {
    httplib::Result answer = Get("/api/state", {{"Host", host}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 403) << host;
    EXPECT_NE(answer->body.find("Host"), std::string::npos) << answer->body;
  }
  EXPECT_EQ(Get("/api/state", {{"Host", "localhost:" + port}})->status, 200);
  httplib::Result foreign = Client().Post("/api/run", {{"Origin", "http://attacker.example"}},
                                          json{{"image", 0}, {"sets", DefaultSets()}}.dump(), "application/json");
  EXPECT_EQ(foreign->status, 403);
  // A form another page could send without asking is not JSON.
  EXPECT_EQ(Client().Post("/api/run", "image=0", "application/x-www-form-urlencoded")->status, 415);
}

TEST_F(ExploreServer, PathsThatClimbOutOfTheFolderReachNoFile) {
  Start();
  for (const std::string& path : std::vector<std::string>{"/../../../../etc/passwd", "/%2e%2e/%2e%2e/%2e%2e/etc/passwd", "/api/images/../../../etc/passwd",
        "/api/images/0/../../../../etc/passwd", "/explore.js/../../etc/passwd", "/api/images/-1/small",
        "/api/images/2/small", "/api/images/99999999999/large", "/" + m_images[0], "/api/images/0/small%00.png"}) {
    httplib::Result answer = Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_GE(answer->status, 400) << path;
    EXPECT_EQ(answer->body.find("root:"), std::string::npos) << path;
    EXPECT_NE(answer->body.find("\"error\""), std::string::npos) << path << ": " << answer->body;
  }
  httplib::Result picture = Get("/api/images/1/small");
  ASSERT_EQ(picture->status, 200);
  EXPECT_FALSE(cv::imdecode(std::vector<unsigned char>(picture->body.begin(), picture->body.end()), cv::IMREAD_COLOR).empty());
}

TEST_F(ExploreServer, OversizedAndMalformedRequestsGetAClearErrorAndTheServerServesOn) {
  Start();
  httplib::Result large = Client().Post("/api/run", std::string(2 << 20, ' '), "application/json");
  ASSERT_TRUE(large);
  EXPECT_EQ(large->status, 413);
  httplib::Result broken = Client().Post("/api/run", "{\"image\": 0, \"sets\": [", "application/json");
  EXPECT_EQ(broken->status, 400);
  EXPECT_NE(broken->body.find("malformed request"), std::string::npos) << broken->body;
  httplib::Result deep = Client().Post("/api/run", std::string(100000, '[') + std::string(100000, ']'), "application/json");
  EXPECT_EQ(deep->status, 400);
  EXPECT_NE(deep->body.find("nested"), std::string::npos) << deep->body;
  for (const char* body : {R"([])", R"({"image": "0", "sets": []})", R"({"image": 0})", R"({"image": 0, "sets": {}})",
                                  R"({"image": 7, "sets": []})", R"({"image": -1, "sets": []})"}) {
    httplib::Result answer = Client().Post("/api/run", body, "application/json");
    EXPECT_GE(answer->status, 400) << body;
    EXPECT_LT(answer->status, 500) << body;
    EXPECT_NE(answer->body.find("\"error\""), std::string::npos) << body;
  }
  EXPECT_EQ(Get("/api/tree?image=0&tree=" + std::string(5000, 'x'))->status, 400);
  EXPECT_EQ(Get("/api/picture?image=0&tree=t&node=abc&result=0")->status, 400);
  // Bytes that are no HTTP, and a request line longer than any the server reads.
  EXPECT_NE(Raw("\x16\x03\x01 not http at all\r\n\r\n").find("400"), std::string::npos);
  EXPECT_NE(Raw("GET /" + std::string(20000, 'a') + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").find("HTTP/1.1 4"), std::string::npos);
  // A body announced beyond the limit (or beyond any number) is never read or run.
  for (const char* length : {"5000000", "99999999999999999999"}) {
    EXPECT_EQ(Raw("POST /api/run HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(m_server.Port()) + "\r\nX-Explore-Token: " +
                      m_server.Token() + "\r\nContent-Type: application/json\r\nContent-Length: " + length + "\r\n\r\n",
                  true)
                  .find("200 OK"),
              std::string::npos);
  }
  EXPECT_EQ(Run(0, DefaultSets())["sets"].size(), 2u);
}

TEST_F(ExploreServer, InvalidParametersAreRefusedWithTheParameterFilesOwnMessage) {
  Start();
  const json sets = DefaultSets();
  std::vector<json> refused;
  refused.push_back(WithBlockSize(sets, 0, 100000));
  refused.push_back(sets);
  refused.back()[1]["binarizationModes"][0]["mode"] = "BM_LOCAL";
  refused.push_back(sets);
  refused.back()[0].erase("lineExtractionModes");
  refused.push_back(sets);
  refused.back()[1]["name"] = sets[0]["name"];
  refused.push_back(sets);
  refused.back()[0]["textFilterModes"][0]["intArg1"] = "twelve";
  for (const json& bad : refused) {
    httplib::Result answer = Post("/api/run", {{"image", 0}, {"sets", bad}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400);
    const std::string message = json::parse(answer->body)["error"];
    EXPECT_EQ(message, "edited sets: " + ToolMessage(bad));
  }
  // The first refusal names the range and the literal one the valid literals, as the file's reader does.
  EXPECT_NE(json::parse(Post("/api/run", {{"image", 0}, {"sets", refused[0]}})->body)["error"].get<std::string>().find("out of range"),
            std::string::npos);
  EXPECT_NE(json::parse(Post("/api/run", {{"image", 0}, {"sets", refused[1]}})->body)["error"].get<std::string>().find("BM_LOCAL_BLOCK"),
            std::string::npos);
}

TEST_F(ExploreServer, SetsBeyondTheBoundsOfALiveRecomputeAreRefusedNamingTheBound) {
  Start();
  const json sets = DefaultSets();
  json manySets = json::array();
  for (int s = 0; s < 17; ++s) {
    manySets.push_back(sets[0]);
    manySets.back()["name"] = "set " + std::to_string(s);
  }
  json longList = sets;
  for (int r = 0; r < 33; ++r) longList[0]["textFilterModes"].push_back(sets[0]["textFilterModes"][0]);
  json wideTree = sets;
  for (int r = 0; r < 16; ++r) {
    wideTree[0]["binarizationModes"].push_back(WithBlockSize(sets, 0, 17 + 2 * r)[0]["binarizationModes"][0]);
    wideTree[0]["lineExtractionModes"].push_back(sets[1]["lineExtractionModes"][r % 2]);
  }
  const std::vector<std::pair<json, std::string>> refused = {
      {manySets, "17 parameter sets, more than the 16"},
      {longList, "parameterSets[0].textFilterModes: 34 records, more than 32"},
      {wideTree, "parameterSets[0]: the lists' lengths multiply to more than 256 paths"}};
  for (const auto& [bad, why] : refused) {
    httplib::Result answer = Post("/api/run", {{"image", 0}, {"sets", bad}});
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->status, 400);
    EXPECT_NE(answer->body.find(why), std::string::npos) << answer->body;
  }
}

TEST_F(ExploreServer, SchemaListsEveryModeListWithTheLiteralsTheReaderAccepts) {
  Start();
  const json schema = json::parse(Get("/api/schema")->body);
  const json sets = DefaultSets();
  ASSERT_EQ(schema["lists"].size(), 8u);
  for (const json& list : schema["lists"]) {
    const std::string name = list["name"];
    ASSERT_TRUE(sets[0].contains(name)) << name;
    ASSERT_EQ(list["fields"][0]["name"], "mode");
    // The reader's message for an unknown mode lists the valid ones: the schema's.
    json bad = sets;
    bad[0][name] = json::array({{{"mode", "NO_SUCH_MODE"}}});
    const std::string message = json::parse(Post("/api/run", {{"image", 0}, {"sets", bad}})->body)["error"];
    std::string literals;
    for (const json& literal : list["fields"][0]["literals"]) literals += (literals.empty() ? "" : ", ") + literal.get<std::string>();
    EXPECT_NE(message.find("one of " + literals), std::string::npos) << message;
  }
}

TEST_F(ExploreServer, FindingsEqualTheToolsJsonlForTheSameSetsBeforeAndAfterAnEdit) {
  Start();
  const json sets = DefaultSets();
  const json edited = WithBlockSize(sets, 0, 25);
  for (const json& tried : {sets, edited}) {
    const std::vector<json> tool = ToolFindings(tried);
    for (size_t image = 0; image < m_images.size(); ++image) {
      const json answer = Run(image, tried);
      EXPECT_EQ(answer["findings"]["sets"], tool[image]) << "image " << image;
      EXPECT_EQ(answer["findings"]["image"], m_images[image]);
    }
  }
}

TEST_F(ExploreServer, AnEditOfABlockSizeComputesTheBinarizationAndBelowAndReusesEverythingAbove) {
  Start();
  const json sets = DefaultSets();
  const json first = Run(0, sets);
  EXPECT_EQ(first["processed"].size(), 2u);
  EXPECT_EQ(first["totals"]["reused"], 0);
  EXPECT_GT(first["totals"]["computed"], 0);
  const json edit = Run(0, WithBlockSize(sets, 0, 21));
  ASSERT_EQ(edit["processed"].size(), 1u);  // only the edited set's tree is new
  for (const json& stage : edit["stages"]) {
    const int number = stage["stage"];
    if (number < kBinarizationStage) {
      EXPECT_EQ(stage["computed"], 0) << stage;
      EXPECT_GT(stage["reused"], 0) << stage;
    } else {
      EXPECT_GT(stage["computed"], 0) << stage;
      EXPECT_EQ(stage["reused"], 0) << stage;
    }
  }
  // Nothing changed: every result is in memory.
  const json again = Run(0, WithBlockSize(sets, 0, 21));
  EXPECT_TRUE(again["processed"].empty());
  EXPECT_EQ(again["totals"]["computed"], 0);
  EXPECT_EQ(again["findings"], edit["findings"]);
}

TEST_F(ExploreServer, EightClientsEditingOneSetAtOnceEachGetTheFindingsOfTheSetsTheySent) {
  Start();
  const json sets = DefaultSets();
  const std::vector<int> blockSizes = {15, 19, 23};
  std::vector<json> expected;
  for (int blockSize : blockSizes) expected.push_back(ToolFindings(WithBlockSize(sets, 0, blockSize))[0]);
  std::atomic<int> wrong{0}, failed{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 8; ++c) {
    clients.emplace_back([&, c] {
      // Half the clients share a tab, as two requests of one page may.
      httplib::Client client = Client(c % 2 == 0 ? "tab-" + std::to_string(c) : "tab-shared");
      for (int edit = 0; edit < 3; ++edit) {
        const size_t pick = static_cast<size_t>(c + edit) % blockSizes.size();
        const json body = {{"image", 0}, {"sets", WithBlockSize(sets, 0, blockSizes[pick])}, {"findings", true}};
        httplib::Result answer = client.Post("/api/run", body.dump(), "application/json");
        if (!answer || answer->status != 200) {
          ++failed;
          continue;
        }
        if (json::parse(answer->body)["findings"]["sets"] != expected[pick]) ++wrong;
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0);
  // Afterwards one client alone still gets the tool's findings.
  EXPECT_EQ(Run(0, WithBlockSize(sets, 0, 19))["findings"]["sets"], expected[1]);
}

TEST_F(ExploreServer, ImagesNoTabShowsAreReleasedAndComeBackFromTheStore) {
  Start({"--store", (m_dir / "store").string()});
  const json sets = DefaultSets();
  const json first = Run(0, sets);
  EXPECT_EQ(first["totals"]["loaded"], 0);
  Run(1, sets);
  const json memory = json::parse(Get("/api/memory")->body);
  EXPECT_EQ(memory["images"], json::array({1}));
  EXPECT_EQ(memory["trees"], 2);
  const json back = Run(0, sets);
  EXPECT_EQ(back["totals"]["computed"], 0);
  EXPECT_GT(back["totals"]["loaded"], 0);
  EXPECT_EQ(back["findings"], first["findings"]);
  // A second tab on the other image keeps both in memory.
  Run(1, sets, "tab-other");
  EXPECT_EQ(json::parse(Get("/api/memory")->body)["images"], json::array({0, 1}));
}

TEST_F(ExploreServer, TreeNodeCardsAndResultPicturesOfAShownImage) {
  Start();
  const json answer = Run(0, DefaultSets());
  const std::string tree = answer["sets"][0]["tree"];
  EXPECT_EQ(Get("/api/tree?image=1&tree=" + tree)->status, 404);  // image 1 is not shown
  httplib::Result svg = Get("/api/tree?image=0&tree=" + tree);
  ASSERT_EQ(svg->status, 200);
  EXPECT_NE(svg->body.find("href=\"#tc16\""), std::string::npos);
  httplib::Result card = Get("/api/node?image=0&tree=" + tree + "&node=16");
  ASSERT_EQ(card->status, 200);
  EXPECT_NE(card->body.find("17 region binary image"), std::string::npos) << card->body;
  EXPECT_NE(card->body.find("/api/picture?image=0&amp;tree=" + tree + "&amp;node=16&amp;result=0"), std::string::npos);
  httplib::Result picture = Get("/api/picture?image=0&tree=" + tree + "&node=16&result=0");
  ASSERT_EQ(picture->status, 200);
  EXPECT_FALSE(cv::imdecode(std::vector<unsigned char>(picture->body.begin(), picture->body.end()), cv::IMREAD_UNCHANGED).empty());
  EXPECT_EQ(Get("/api/picture?image=0&tree=" + tree + "&node=16&result=999")->status, 404);
  EXPECT_EQ(Get("/api/node?image=0&tree=" + tree + "&node=100000")->status, 404);
}

TEST_F(ExploreServer, SaveWritesTheEditedSetsWithTheToolsWriterAndRefusesInvalidOnes) {
  const fs::path params = m_dir / "params.json";
  Start({"--params", params.string()});  // a file that does not exist yet
  const json edited = WithBlockSize(DefaultSets(), 1, 31);
  httplib::Result saved = Post("/api/save", {{"sets", edited}});
  ASSERT_EQ(saved->status, 200) << saved->body;
  const std::string written = ReadFile(params);
  EXPECT_EQ(json::parse(written)["parameterSets"], edited);
  httplib::Result download = Post("/api/parameter-file", {{"sets", edited}});
  EXPECT_EQ(download->body, written);
  EXPECT_EQ(Post("/api/save", {{"sets", WithBlockSize(edited, 0, -5)}})->status, 400);
  EXPECT_EQ(ReadFile(params), written);
  EXPECT_EQ(json::parse(Get("/api/state")->body)["sets"], edited);
  for (const fs::directory_entry& entry : fs::directory_iterator(m_dir))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
