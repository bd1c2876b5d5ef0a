// Who may drive the explore server: requests that name an expected Host and carry the
// server's token. The token is 128 random bits from the kernel, as 32 hex digits; the
// page gets it once in its address and keeps it in a cookie that the browser sends only
// with requests from the page's own origin (SameSite=Strict, HttpOnly).
//
// Threads: const after construction; every function may be called from any thread.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_ACCESS_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_ACCESS_H

#include <string>
#include <vector>

namespace stagecache {
namespace explore {

// A request as the guard sees it: the headers and the query token it carries.
struct RequestCredentials {
  std::string host;         // the Host header, empty when missing
  std::string origin;       // the Origin header, empty when missing
  std::string cookieHeader; // the Cookie header, empty when missing
  std::string tokenHeader;  // the X-Explore-Token header, empty when missing
  std::string queryToken;   // the token query parameter, empty when missing
};

class AccessGuard {
 public:
  // A fresh random token for a server listening on `bindAddress`:`port`. Throws
  // std::runtime_error when the kernel gives no random bytes.
  AccessGuard(const std::string& bindAddress, int port);
  // A guard with a known token (for a server that is told its token).
  AccessGuard(const std::string& bindAddress, int port, std::string token);

  const std::string& Token() const { return m_token; }
  // The name of the cookie that carries the token: one per port, so that two servers on
  // one machine do not overwrite each other's.
  const std::string& CookieName() const { return m_cookieName; }
  // The Set-Cookie value that hands the token to a page.
  std::string SetCookieValue() const;
  // The address to open: http://<host>:<port>/?token=<token>.
  std::string PageAddress() const;

  // Empty when the Host (and the Origin, when given) names this server; otherwise why not.
  std::string CheckHost(const RequestCredentials& request) const;
  // Whether the request carries the token in its header or cookie, or (when
  // `queryAllowed`) in the query. Compared in constant time.
  bool HasToken(const RequestCredentials& request, bool queryAllowed) const;

 private:
  bool Matches(const std::string& candidate) const;

  std::string m_token;
  std::string m_cookieName;
  std::string m_pageHost;                  // host:port of the printed address
  std::vector<std::string> m_allowedHosts;  // Host values this server answers
};

// 16 random bytes from getrandom as 32 lower-case hex digits; throws std::runtime_error
// when the kernel gives none.
std::string RandomToken();

// Whether two texts are equal, in a time that depends only on their lengths.
bool EqualInConstantTime(const std::string& a, const std::string& b);

// The value of cookie `name` in a Cookie header, or empty.
std::string CookieValue(const std::string& cookieHeader, const std::string& name);

}  // namespace explore
}  // namespace stagecache

#endif
