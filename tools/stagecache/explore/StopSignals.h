// Ctrl-C (SIGINT) and SIGTERM for a server. Both are blocked in the thread that makes a
// StopSignals, and so in every thread it starts afterwards; a thread of its own waits for
// them (sigtimedwait) and then calls `stop` from an ordinary thread, again every 200 ms
// until Finish, so that a signal that comes before the server listens still stops it. No
// signal handler runs. SIGPIPE is ignored: a client that goes away mid-answer is an
// error of that answer, not the end of the server.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_STOPSIGNALS_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_STOPSIGNALS_H

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

namespace stagecache {
namespace explore {

class StopSignals {
 public:
  // Make it before any other thread starts.
  StopSignals();
  // Finish(), then the signals are unblocked again.
  ~StopSignals();
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  // Starts the waiting thread; `stop` must be callable from it, also several times.
  void Watch(std::function<void()> stop);
  // Ends the waiting thread.
  void Finish();
  // Whether a signal came.
  bool Arrived() const { return m_arrived; }

 private:
  sigset_t m_signals;
  sigset_t m_previous;
  std::thread m_thread;
  std::atomic<bool> m_finished{false};
  std::atomic<bool> m_arrived{false};
};

}  // namespace explore
}  // namespace stagecache

#endif
