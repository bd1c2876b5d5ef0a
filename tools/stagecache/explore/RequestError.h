// A request the explore server refuses, with the HTTP status and the message it answers.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_REQUESTERROR_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_REQUESTERROR_H

#include <stdexcept>
#include <string>

namespace stagecache {
namespace explore {

class RequestError : public std::runtime_error {
 public:
  RequestError(int status, const std::string& message) : std::runtime_error(message), m_status(status) {}
  int Status() const { return m_status; }

 private:
  int m_status;
};

}  // namespace explore
}  // namespace stagecache

#endif
