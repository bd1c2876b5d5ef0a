// Small helpers shared by the concrete data wraps.
#ifndef ORVEX_SRC_DATAWRAP_WRAPHELPERS_H
#define ORVEX_SRC_DATAWRAP_WRAPHELPERS_H

#include <orvex/foundation/QZRef.h>

#include <mutex>

namespace orvex {
namespace wraps {

// A wrap's own copy of its node's record (a default record for a null pointer).
template <class Record>
Record CopyOrDefault(const Record* record) {
  return record != nullptr ? *record : Record();
}

// The extra input's stage object, or null when it is not attached.
template <class Wrap>
auto StageOf(const QZRef<Wrap>& wrap) -> decltype(wrap->GetData(false)) {
  return wrap ? wrap->GetData(false) : nullptr;
}

// Generates an extra input read under `mutex`, without holding it while generating.
template <class Wrap>
void ReadyExtraInput(std::mutex& mutex, const QZRef<Wrap>& field) {
  QZRef<Wrap> input;
  {
    std::lock_guard<std::mutex> lock(mutex);
    input = field;
  }
  if (input) input->GetData(true);
}

// Reads `field` of another wrap under that wrap's mutex.
template <class T>
T CopyUnder(std::mutex& mutex, const T& field) {
  std::lock_guard<std::mutex> lock(mutex);
  return field;
}

}  // namespace wraps
}  // namespace orvex

#endif
