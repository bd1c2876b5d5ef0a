#include "ExploreProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <regex>
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
  const std::regex address(R"((http://127\.0\.0\.1:([0-9]+)/\?token=([0-9a-f]+))\n)");
  std::smatch found;
  while (!std::regex_search(printed, found, address) && std::chrono::steady_clock::now() < deadline) {
    pollfd wait{out[0], POLLIN, 0};
    if (poll(&wait, 1, 1000) <= 0) continue;
    char buffer[512];
    const ssize_t got = read(out[0], buffer, sizeof buffer);
    if (got <= 0) break;
    printed.append(buffer, static_cast<size_t>(got));
  }
  close(out[0]);
  if (!std::regex_search(printed, found, address)) {
    m_problem = "the server printed no address: '" + printed + "'";
    return false;
  }
  m_address = found[1];
  m_port = std::atoi(found[2].str().c_str());
  m_token = found[3];
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
