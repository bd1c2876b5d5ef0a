// A set's findings drawn over its image, as the report and the explore page show them.
#ifndef ORVEX_TOOLS_STAGECACHE_OVERLAYS_H
#define ORVEX_TOOLS_STAGECACHE_OVERLAYS_H

#include <orvex/hostkit/ImageSummary.h>

#include <cstddef>
#include <string>

namespace stagecache {

// One set's regions (green) and line segments (red) in source-image coordinates as an SVG
// group with the id "set-<index>" and the counts in data-regions and data-lines, each kind
// one path: a page defines it once and every panel shows it by reference.
std::string OverlayGroup(const orvex::hostkit::SetFindings& set, size_t index);

}  // namespace stagecache

#endif
