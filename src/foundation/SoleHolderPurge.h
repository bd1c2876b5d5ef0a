// Dropping the entries of a map of counted handles that nothing else holds.
#ifndef ORVEX_SRC_FOUNDATION_SOLEHOLDERPURGE_H
#define ORVEX_SRC_FOUNDATION_SOLEHOLDERPURGE_H

namespace orvex {

// Erases, in key order, every entry whose object only the map holds (count at most 1);
// entries with an empty handle stay. Returns whether any entry went. The caller guards
// the map; erasing may destroy the objects.
template <class Map>
bool EraseEntriesHeldOnlyByMap(Map& map) {
  bool erased = false;
  for (auto it = map.begin(); it != map.end();) {
    if (it->second && it->second->GetRefCount() <= 1) {
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
