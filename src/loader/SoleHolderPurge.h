// Dropping the entries of a map of counted handles that nothing else holds.
#ifndef ORVEX_SRC_LOADER_SOLEHOLDERPURGE_H
#define ORVEX_SRC_LOADER_SOLEHOLDERPURGE_H

#include <orvex/foundation/QZRef.h>

namespace orvex {

// Erases, in key order, every entry whose object only the map holds; entries with an
// empty handle stay. The objects go to `graveyard`, which the caller lets go after its
// lock, and cannot be pinned by anyone meanwhile. Returns whether any entry went.
template <class Map>
bool ClaimEntriesHeldOnlyByMap(Map& map, QZGraveyard& graveyard) {
  bool erased = false;
  for (auto it = map.begin(); it != map.end();) {
    if (it->second.ClaimIfSole(graveyard)) {
      it = map.erase(it);
      erased = true;
    } else {
      ++it;
    }
  }
  return erased;
}

}  // namespace orvex

#endif
