// The latency of `stagecache explore`, driven by a client as the page drives it:
//
//   orvex_bench_explore TOOL PAGES WORK
//
// starts the server on the drawn pages of PAGES (the first is the page edited) with the
// two built-in sets, and measures from this client: the first view of a page (the whole
// pipeline for it, both sets computed), then 30 edits of the first set's binarization
// block size, each to a value not seen before, from the request to the new overlay's
// answer (p50, p95). Then, with a store in WORK filled by one server, the first view of
// the page in a fresh server (every result stored). Exits 1 when a target is missed.
#include "../tests/support/ExploreProcess.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kEdits = 30;

class Server {
 public:
  Server(const std::string& tool, const std::vector<std::string>& arguments, const fs::path& log) {
    if (!m_process.Start(tool, arguments, log)) throw std::runtime_error("the server did not start: " + m_process.Problem());
    m_client = std::make_unique<httplib::Client>("127.0.0.1", m_process.Port());
    m_client->set_read_timeout(600, 0);
    m_client->set_default_headers({{"X-Explore-Token", m_process.Token()}, {"X-Explore-Tab", "bench"}});
    m_sets = json::parse(m_client->Get("/api/state")->body)["sets"];
  }
  ~Server() { m_process.Stop(); }

  const json& Sets() const { return m_sets; }

  // One recompute as the page asks for it; its answer and the milliseconds it took.
  json Run(size_t image, const json& sets, double* ms) {
    const json body = {{"image", image}, {"sets", sets}};
    const Clock::time_point start = Clock::now();
    httplib::Result answer = m_client->Post("/api/run", body.dump(), "application/json");
    *ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (!answer || answer->status != 200) throw std::runtime_error("a run failed: " + (answer ? answer->body : std::string("no answer")));
    return json::parse(answer->body);
  }

 private:
  orvex::testing::ExploreProcess m_process;
  std::unique_ptr<httplib::Client> m_client;
  json m_sets;
};

double Percentile(std::vector<double> values, double share) {
  std::sort(values.begin(), values.end());
  const size_t at = static_cast<size_t>(share * (values.size() - 1) + 0.5);
  return values[std::min(at, values.size() - 1)];
}

void Row(const std::string& figure, const std::string& measured, const std::string& target = "", bool met = true) {
  std::printf("%-62s %24s  %-10s %s\n", figure.c_str(), measured.c_str(), target.c_str(),
              target.empty() ? "" : (met ? "met" : "MISSED"));
}

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: orvex_bench_explore TOOL PAGES WORK\n");
    return 2;
  }
  const std::string tool = argv[1];
  std::vector<std::string> pages;
  for (const fs::directory_entry& entry : fs::directory_iterator(argv[2]))
    if (entry.path().extension() == ".png") pages.push_back(entry.path().string());
  std::sort(pages.begin(), pages.end());
  if (pages.size() < 2) {
    std::fprintf(stderr, "orvex_bench_explore: PAGES needs at least two drawn pages\n");
    return 2;
  }
  const fs::path work = argv[3];
  bool missed = false;
  try {
    std::vector<double> whole, edits;
    double p50 = 0, wholeMs = 0;
    {
      Server server(tool, pages, work / "server.txt");
      double ms = 0;
      // The whole pipeline for a page: a first view, every result of both sets computed.
      for (size_t page = 1; page < pages.size(); ++page) {
        server.Run(page, server.Sets(), &ms);
        whole.push_back(ms);
      }
      server.Run(0, server.Sets(), &ms);
      whole.push_back(ms);
      for (int edit = 0; edit < kEdits; ++edit) {
        json sets = server.Sets();
        sets[0]["binarizationModes"][0]["intArg1"] = 17 + 2 * edit;  // a new block size every time
        const json answer = server.Run(0, sets, &ms);
        if (answer["processed"].size() != 1) throw std::runtime_error("an edit recomputed more than the edited set");
        edits.push_back(ms);
      }
      wholeMs = Percentile(whole, 0.5);
      p50 = Percentile(edits, 0.5);
      Row("explore: first view of a 2-MP page, both sets (median), ms", Format("%.1f", wholeMs));
      Row("explore: edit of one block size to its overlay, p50, ms", Format("%.1f", p50), "< 150", p50 < 150);
      Row("explore: edit of one block size to its overlay, p95, ms", Format("%.1f", Percentile(edits, 0.95)));
      Row("explore: edit p50 / first view", Format("%.3f", p50 / wholeMs), "< 0.25", p50 / wholeMs < 0.25);
    }
    missed = p50 >= 150 || p50 / wholeMs >= 0.25;
    // The first view of a page whose results are all stored, in a fresh server.
    const std::string store = (work / "store").string();
    {
      Server filling(tool, {"--store", store, pages[0]}, work / "filling.txt");
      double ms = 0;
      filling.Run(0, filling.Sets(), &ms);
    }
    Server fresh(tool, {"--store", store, pages[0]}, work / "fresh.txt");
    double storedMs = 0;
    const json answer = fresh.Run(0, fresh.Sets(), &storedMs);
    Row("explore: first view with every result stored, ms", Format("%.1f", storedMs));
    Row("explore: first view stored / computed", Format("%.3f", storedMs / wholeMs));
    Row("explore: first view stored, results computed", Format("%.0f", answer["totals"]["computed"].get<double>()), "0",
        answer["totals"]["computed"] == 0);
    missed = missed || answer["totals"]["computed"] != 0;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "orvex_bench_explore: %s\n", error.what());
    return 1;
  }
  return missed ? 1 : 0;
}
