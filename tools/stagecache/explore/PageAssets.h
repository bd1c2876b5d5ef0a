// The explore page: HTML, script and style, embedded in the program from
// tools/stagecache/explore/page/ when it is built, so that the page needs no network.
#ifndef ORVEX_TOOLS_STAGECACHE_EXPLORE_PAGEASSETS_H
#define ORVEX_TOOLS_STAGECACHE_EXPLORE_PAGEASSETS_H

namespace stagecache {
namespace explore {

extern const char kPageHtml[];
extern const char kPageScript[];
extern const char kPageStyle[];

}  // namespace explore
}  // namespace stagecache

#endif
