#include "Access.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace stagecache {
namespace explore {

namespace {

constexpr size_t kTokenBytes = 16;

// An address as it stands in a Host header: IPv6 addresses in brackets.
std::string HostForm(const std::string& address, int port) {
  const bool ipv6 = address.find(':') != std::string::npos;
  return (ipv6 ? "[" + address + "]" : address) + ":" + std::to_string(port);
}

}  // namespace

std::string RandomToken() {
  unsigned char bytes[kTokenBytes];
  size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("no random bytes from the kernel for the access token");
    got += static_cast<size_t>(n);
  }
  std::string token;
  char hex[3];
  for (unsigned char byte : bytes) {
    std::snprintf(hex, sizeof hex, "%02x", byte);
    token += hex;
  }
  return token;
}

bool EqualInConstantTime(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
  return difference == 0;
}

std::string CookieValue(const std::string& cookieHeader, const std::string& name) {
  size_t at = 0;
  while (at < cookieHeader.size()) {
    size_t end = cookieHeader.find(';', at);
    if (end == std::string::npos) end = cookieHeader.size();
    size_t begin = at;
    while (begin < end && cookieHeader[begin] == ' ') ++begin;
    const size_t equals = cookieHeader.find('=', begin);
    if (equals != std::string::npos && equals < end && cookieHeader.compare(begin, equals - begin, name) == 0 &&
        equals - begin == name.size()) {
      return cookieHeader.substr(equals + 1, end - equals - 1);
    }
    at = end + 1;
  }
  return std::string();
}

AccessGuard::AccessGuard(const std::string& bindAddress, int port) : AccessGuard(bindAddress, port, RandomToken()) {}

AccessGuard::AccessGuard(const std::string& bindAddress, int port, std::string token)
    : m_token(std::move(token)),
      m_cookieName("stagecache-explore-" + std::to_string(port)),
      m_pageHost(HostForm(bindAddress, port)) {
  m_allowedHosts = {HostForm("127.0.0.1", port), "localhost:" + std::to_string(port), HostForm("::1", port)};
  if (bindAddress != "127.0.0.1" && bindAddress != "::1") m_allowedHosts.push_back(m_pageHost);
}

std::string AccessGuard::SetCookieValue() const {
  return m_cookieName + "=" + m_token + "; Path=/; HttpOnly; SameSite=Strict";
}

std::string AccessGuard::PageAddress() const { return "http://" + m_pageHost + "/?token=" + m_token; }

std::string AccessGuard::CheckHost(const RequestCredentials& request) const {
  bool hostKnown = false;
  for (const std::string& allowed : m_allowedHosts) hostKnown = hostKnown || request.host == allowed;
  if (!hostKnown) {
    std::string names;
    for (const std::string& allowed : m_allowedHosts) names += (names.empty() ? "" : ", ") + allowed;
    return request.host.empty() ? "a request without a Host header; this server answers " + names
                                : "unexpected Host '" + request.host.substr(0, 100) + "'; this server answers " + names;
  }
  // A browser names the page that sent a request in Origin: it must be this server's.
  if (!request.origin.empty()) {
    bool originKnown = false;
    for (const std::string& allowed : m_allowedHosts) originKnown = originKnown || request.origin == "http://" + allowed;
    if (!originKnown) return "a request from a page of another origin ('" + request.origin.substr(0, 100) + "')";
  }
  return std::string();
}

bool AccessGuard::HasToken(const RequestCredentials& request, bool queryAllowed) const {
  if (Matches(request.tokenHeader)) return true;
  if (Matches(CookieValue(request.cookieHeader, m_cookieName))) return true;
  return queryAllowed && Matches(request.queryToken);
}

bool AccessGuard::Matches(const std::string& candidate) const {
  return !candidate.empty() && EqualInConstantTime(candidate, m_token);
}

}  // namespace explore
}  // namespace stagecache
