// A `stagecache explore` server run as a child process, as a user starts it: its address,
// port and token read from what it prints.
#ifndef ORVEX_TESTS_SUPPORT_EXPLOREPROCESS_H
#define ORVEX_TESTS_SUPPORT_EXPLOREPROCESS_H

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace orvex {
namespace testing {

class ExploreProcess {
 public:
  ExploreProcess() = default;
  // Stops the server (Ctrl-C) if it still runs.
  ~ExploreProcess();
  ExploreProcess(const ExploreProcess&) = delete;
  ExploreProcess& operator=(const ExploreProcess&) = delete;

  // Starts `tool explore <arguments>` with its standard error going to `errFile`; false
  // when it printed no address within 120 seconds (the reason in Problem()).
  bool Start(const std::string& tool, const std::vector<std::string>& arguments, const std::filesystem::path& errFile);
  // Sends Ctrl-C (SIGINT) and waits for the exit; its exit code, or -1 when it did not
  // exit within 120 seconds (it is then killed) or died of a signal.
  int Stop();

  int Port() const { return m_port; }
  const std::string& Token() const { return m_token; }
  const std::string& Address() const { return m_address; }
  const std::string& Problem() const { return m_problem; }

 private:
  pid_t m_pid = -1;
  int m_port = 0;
  std::string m_token;
  std::string m_address;
  std::string m_problem;
};

}  // namespace testing
}  // namespace orvex

#endif
