// `stagecache explore`: tune parameter sets live in the browser. Reads its options,
// serves the page until Ctrl-C, and returns the exit code.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLOREMAIN_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_EXPLOREMAIN_H

namespace stagecache {
namespace explore {

// argv[0] is "explore"; the options and images follow.
int ExploreMain(int argc, char** argv);

}  // namespace explore
}  // namespace stagecache

#endif
