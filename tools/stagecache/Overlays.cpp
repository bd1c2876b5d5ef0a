#include "Overlays.h"

#include "HtmlText.h"

#include <sstream>

namespace stagecache {

namespace {

const char kRegionCss[] = "#28c828";
const char kLineCss[] = "#e61e1e";

std::string Coordinate(float value) { return Fixed(value, 1); }

}  // namespace

std::string OverlayGroup(const orvex::hostkit::SetFindings& set, size_t index) {
  std::ostringstream svg;
  svg << "<g id=\"set-" << index << "\" data-regions=\"" << set.regions.size() << "\" data-lines=\""
      << set.lineSegments.size() << "\"><path fill=\"none\" stroke=\"" << kRegionCss << "\" stroke-width=\"3\" d=\"";
  for (const orvex::hostkit::Quad& quad : set.regions) {
    for (size_t c = 0; c < quad.size(); ++c) svg << (c == 0 ? "M" : "L") << Coordinate(quad[c].x) << " " << Coordinate(quad[c].y);
    svg << "Z";
  }
  svg << "\"/><path stroke=\"" << kLineCss << "\" stroke-width=\"2\" d=\"";
  for (const cv::Vec4f& s : set.lineSegments) {
    svg << "M" << Coordinate(s[0]) << " " << Coordinate(s[1]) << "L" << Coordinate(s[2]) << " " << Coordinate(s[3]);
  }
  svg << "\"/></g>";
  return svg.str();
}

}  // namespace stagecache
