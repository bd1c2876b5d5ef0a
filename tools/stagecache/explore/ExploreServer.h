// The explore server: the page, its assets and the JSON interface over HTTP (cpp-httplib).
// Every request must name an expected Host and carry the access token (AccessGuard);
// request bodies are limited to kMostRequestBytes; images are named by their place in the
// list, and no path of a request reaches the file system. A handler that fails answers
// 4xx or 5xx with {"error": message}, and the server goes on serving.
//
//   GET  /?token=T            sets the token cookie and leads to /
//   GET  /, /explore.js, /explore.css   the page
//   GET  /api/schema          the mode lists and fields (ModeSchema)
//   GET  /api/state           images, sets, parameter file, store
//   POST /api/run             a recompute (ExploreSession::Run); header X-Explore-Tab names the tab
//   GET  /api/images/N/small, /api/images/N/large   JPEG pictures of image N
//   GET  /api/tree?image=N&tree=R, /api/node?...&node=K, /api/picture?...&node=K&result=I
//   POST /api/parameter-file  the sets as a parameter file, to download
//   POST /api/save            the sets written to the parameter file
//   GET  /api/memory          the images and trees held
//
// Threads: Serve blocks on the calling thread and answers on a pool of its own; Stop may
// be called from any thread, also before Serve has started (Serve then returns at once).
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORESERVER_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLORESERVER_H

#include "Access.h"
#include "ExploreSession.h"

#include <atomic>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace stagecache {
namespace explore {

// Threads answering requests: enough for two tabs' parallel connections and a few
// programs, each connection kept for a short keep-alive.
constexpr int kServerThreads = 16;

class ExploreServer {
 public:
  explicit ExploreServer(ExploreSession& session);
  ~ExploreServer();
  ExploreServer(const ExploreServer&) = delete;
  ExploreServer& operator=(const ExploreServer&) = delete;

  // Binds to `address`:`port` (any free port for 0); the port bound, or -1 on failure.
  int Bind(const std::string& address, int port);
  // Answers requests as `guard` allows until Stop(); false when the server could not listen.
  bool Serve(const AccessGuard& guard);
  void Stop();

 private:
  void Route();

  ExploreSession& m_session;
  std::unique_ptr<httplib::Server> m_server;
  const AccessGuard* m_guard = nullptr;  // set before Serve starts the pool, read only after
  std::atomic<bool> m_stopped{false};
};

}  // namespace explore
}  // namespace stagecache

#endif
