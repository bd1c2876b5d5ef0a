#include "StopSignals.h"

#include <pthread.h>

#include <ctime>

namespace stagecache {
namespace explore {

StopSignals::StopSignals() {
  sigemptyset(&m_signals);
  sigaddset(&m_signals, SIGINT);
  sigaddset(&m_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &m_signals, &m_previous);
  signal(SIGPIPE, SIG_IGN);
}

StopSignals::~StopSignals() {
  Finish();
  pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
}

void StopSignals::Watch(std::function<void()> stop) {
  m_thread = std::thread([this, stop = std::move(stop)] {
    while (!m_finished) {
      const timespec wait{0, 200 * 1000 * 1000};
      const int signal = sigtimedwait(&m_signals, nullptr, &wait);
      if (signal == SIGINT || signal == SIGTERM) m_arrived = true;
      if (m_arrived) stop();
    }
  });
}

void StopSignals::Finish() {
  m_finished = true;
  if (m_thread.joinable()) m_thread.join();
}

}  // namespace explore
}  // namespace stagecache
