// Texts as the report's and the explore page's HTML and DOT need them.
#ifndef ORVEX_TOOLS_STAGECACHE_HTMLTEXT_H
#define ORVEX_TOOLS_STAGECACHE_HTMLTEXT_H

#include <iomanip>
#include <sstream>
#include <string>

namespace stagecache {

// A text inside HTML, also inside a quoted attribute.
inline std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// A number with `digits` digits after the point.
inline std::string Fixed(double value, int digits) {
  std::ostringstream out;
  out << std::fixed << std::setprecision(digits) << value;
  return out.str();
}

}  // namespace stagecache

#endif
