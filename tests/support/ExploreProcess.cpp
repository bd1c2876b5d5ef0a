#include "ExploreProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace orvex {
namespace testing {

namespace {

constexpr int kWaitSeconds = 120;

}  // namespace

ExploreProcess::~ExploreProcess() {
  if (m_pid > 0) Stop();
}

bool ExploreProcess::Start(const std::string& tool, const std::vector<std::string>& arguments,
                           const std::filesystem::path& errFile) {
  int out[2];
  if (pipe(out) != 0) {
    m_problem = "no pipe";
    return false;
  }
  std::vector<std::string> words = {tool, "explore"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  m_pid = fork();
  if (m_pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (err >= 0) dup2(err, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  if (m_pid < 0) {
    close(out[0]);
    m_problem = "no fork";
    return false;
  }
  std::string printed;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
  // The address line: http://127.0.0.1:PORT/?token=HEX, then a newline.
  const auto findAddress = [&]() {
    static const std::string kStart = "http://127.0.0.1:";
    const size_t at = printed.find(kStart);
    const size_t end = at == std::string::npos ? std::string::npos : printed.find('\n', at);
    if (end == std::string::npos) return false;
    const std::string line = printed.substr(at, end - at);
    const size_t port = kStart.size(), slash = line.find("/?token=", port);
    if (slash == std::string::npos || slash == port) return false;
    const std::string portText = line.substr(port, slash - port), token = line.substr(slash + 8);
    const auto digits = [](const std::string& text, const char* allowed) {
      return !text.empty() && text.find_first_not_of(allowed) == std::string::npos;
    };
    if (!digits(portText, "0123456789") || !digits(token, "0123456789abcdef")) return false;
    m_address = line;
    m_port = std::atoi(portText.c_str());
    m_token = token;
    return true;
  };
  while (!findAddress() && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{out[0], POLLIN, 0};
    if (poll(&wait, 1, 1000) <= 0) continue;
    char buffer[512];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0) break;
    printed.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  if (m_address.empty()) {
    m_problem = "the server printed no address: '" + printed + "'";
    return false;
  }
  return true;
}

int ExploreProcess::Stop() {
  if (m_pid <= 0) return -1;
  kill(m_pid, SIGINT);
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitSeconds);
  pid_t done = 0;
  while ((done = waitpid(m_pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (done == 0) {
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return -1;
  }
  m_pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing
}  // namespace orvex
