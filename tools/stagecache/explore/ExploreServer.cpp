#include "ExploreServer.h"

#include "EditedSets.h"
#include "ModeSchema.h"
#include "PageAssets.h"
#include "RequestError.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <new>

namespace stagecache {
namespace explore {

using nlohmann::json;

namespace {

constexpr char kJson[] = "application/json";
constexpr size_t kMostTabIdBytes = 64;
constexpr size_t kMostTreeNameBytes = 100;

void Answer(httplib::Response& res, int status, const std::string& message) {
  res.status = status;
  res.set_content(json{{"error", message}}.dump(-1, ' ', false, json::error_handler_t::replace), kJson);
}

// Runs a handler, turning what it throws into an answer.
void Guarded(httplib::Response& res, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const RequestError& error) {
    Answer(res, error.Status(), error.what());
  } catch (const std::bad_alloc&) {
    Answer(res, 503, "out of memory for this request");
  } catch (const std::exception& error) {
    Answer(res, 500, std::string("internal error: ") + error.what());
  }
}

// The tab a request comes from: letters, digits, '-' and '_', at most 64; else the one
// tab of clients that name none.
std::string TabOf(const httplib::Request& req) {
  const std::string tab = req.get_header_value("X-Explore-Tab");
  const bool plain = tab.size() <= kMostTabIdBytes && std::all_of(tab.begin(), tab.end(), [](char c) {
                       return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
                     });
  return plain ? tab : std::string();
}

// A whole number of a query parameter; RequestError 400 when missing or not one.
size_t Number(const httplib::Request& req, const char* name) {
  const std::string text = req.get_param_value(name);
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    throw RequestError(400, std::string("malformed request: parameter '") + name + "' must be a whole number");
  }
  return std::stoul(text);
}

// The tree a request names: a registration name as the run answered it.
std::string TreeOf(const httplib::Request& req) {
  const std::string tree = req.get_param_value("tree");
  if (tree.empty() || tree.size() > kMostTreeNameBytes) throw RequestError(400, "malformed request: parameter 'tree'");
  return tree;
}

RequestCredentials CredentialsOf(const httplib::Request& req) {
  RequestCredentials credentials;
  credentials.host = req.get_header_value("Host");
  credentials.origin = req.get_header_value("Origin");
  credentials.cookieHeader = req.get_header_value("Cookie");
  credentials.tokenHeader = req.get_header_value("X-Explore-Token");
  credentials.queryToken = req.get_param_value("token");
  return credentials;
}

}  // namespace

ExploreServer::ExploreServer(ExploreSession& session) : m_session(session), m_server(std::make_unique<httplib::Server>()) {
  // The library deletes the queue it is handed when it stops.
  m_server->new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
  m_server->set_payload_max_length(kMostRequestBytes);
  m_server->set_read_timeout(5, 0);
  m_server->set_write_timeout(5, 0);
  m_server->set_keep_alive_timeout(2);
  m_server->set_default_headers({{"X-Content-Type-Options", "nosniff"},
                                 {"Cache-Control", "no-store"},
                                 {"Referrer-Policy", "no-referrer"},
                                 {"X-Frame-Options", "DENY"},
                                 {"Content-Security-Policy",
                                  "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
                                  "img-src 'self' data: blob:; connect-src 'self'; frame-ancestors 'none'"}});
  Route();
}

ExploreServer::~ExploreServer() = default;

int ExploreServer::Bind(const std::string& address, int port) {
  if (port == 0) return m_server->bind_to_any_port(address);
  return m_server->bind_to_port(address, port) ? port : -1;
}

bool ExploreServer::Serve(const AccessGuard& guard) {
  m_guard = &guard;
  if (m_stopped) return true;
  return m_server->listen_after_bind();
}

void ExploreServer::Stop() {
  m_stopped = true;
  m_server->stop();
}

void ExploreServer::Route() {
  httplib::Server& server = *m_server;

  // Every request: an expected Host, then the token; API posts carry JSON.
  server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
    const RequestCredentials credentials = CredentialsOf(req);
    if (req.get_header_value_count("Host") != 1) {
      Answer(res, 400, "a request needs exactly one Host header");
      return httplib::Server::HandlerResponse::Handled;
    }
    const std::string wrongHost = m_guard->CheckHost(credentials);
    if (!wrongHost.empty()) {
      Answer(res, 403, wrongHost);
      return httplib::Server::HandlerResponse::Handled;
    }
    const bool pageEntry = req.method == "GET" && req.path == "/";
    if (!m_guard->HasToken(credentials, pageEntry)) {
      Answer(res, 403, "this server needs its access token: open the address that stagecache explore printed");
      return httplib::Server::HandlerResponse::Handled;
    }
    if (req.method == "POST" && req.get_header_value("Content-Type").rfind(kJson, 0) != 0) {
      Answer(res, 415, "a request to the explore server sends application/json");
      return httplib::Server::HandlerResponse::Handled;
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Errors the library answers by itself (no route, a body over the limit) get a message too.
  server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
    if (!res.body.empty()) return;
    const int status = res.status;
    if (status == 404) Answer(res, 404, "nothing at " + req.path.substr(0, 100));
    else if (status == 413) Answer(res, 413, "the request is larger than " + std::to_string(kMostRequestBytes) + " bytes");
    else Answer(res, status, "the request was refused (HTTP " + std::to_string(status) + ")");
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
    Answer(res, 500, "internal error");
  });

  server.Get("/", [this](const httplib::Request& req, httplib::Response& res) {
    if (req.has_param("token")) {
      // The token leaves the address for a cookie only this origin's requests carry.
      res.set_header("Set-Cookie", m_guard->SetCookieValue());
      res.set_redirect("/", 303);
      return;
    }
    res.set_content(kPageHtml, "text/html; charset=utf-8");
  });
  server.Get("/explore.js", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageScript, "text/javascript; charset=utf-8");
  });
  server.Get("/explore.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_content(kPageStyle, "text/css; charset=utf-8");
  });
  server.Get("/api/schema", [](const httplib::Request&, httplib::Response& res) {
    static const std::string schema = ModeSchema().dump();
    res.set_content(schema, kJson);
  });
  server.Get("/api/state", [this](const httplib::Request&, httplib::Response& res) {
    Guarded(res, [&] { res.set_content(m_session.State().dump(-1, ' ', false, json::error_handler_t::replace), kJson); });
  });
  server.Get("/api/memory", [this](const httplib::Request&, httplib::Response& res) {
    Guarded(res, [&] { res.set_content(m_session.Memory().dump(), kJson); });
  });
  server.Get(R"(/api/images/([0-9]{1,9})/(small|large))", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] {
      ImageList& images = m_session.Images();
      const size_t index = images.IndexOf(req.matches[1].str());
      res.set_content(req.matches[2] == "small" ? images.SmallPicture(index) : images.LargePicture(index), "image/jpeg");
    });
  });
  server.Post("/api/run", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] {
      const json answer = m_session.Run(TabOf(req), ParseRequestBody(req.body));
      res.set_content(answer.dump(-1, ' ', false, json::error_handler_t::replace), kJson);
    });
  });
  server.Get("/api/tree", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] { res.set_content(m_session.TreeSvg(Number(req, "image"), TreeOf(req)), "image/svg+xml"); });
  });
  server.Get("/api/node", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] {
      res.set_content(m_session.NodeCard(Number(req, "image"), TreeOf(req), Number(req, "node")), "text/html; charset=utf-8");
    });
  });
  server.Get("/api/picture", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] {
      res.set_content(
          m_session.ResultPicture(Number(req, "image"), TreeOf(req), Number(req, "node"), Number(req, "result")),
          "image/png");
    });
  });
  server.Post("/api/parameter-file", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] { res.set_content(m_session.ParameterFileText(ParseRequestBody(req.body)), kJson); });
  });
  server.Post("/api/save", [this](const httplib::Request& req, httplib::Response& res) {
    Guarded(res, [&] { res.set_content(m_session.Save(ParseRequestBody(req.body)).dump(), kJson); });
  });
}

}  // namespace explore
}  // namespace stagecache
