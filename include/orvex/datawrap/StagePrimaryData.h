// How a processing stage hands out its result: computed once, on first request.
#ifndef ORVEX_DATAWRAP_STAGEPRIMARYDATA_H
#define ORVEX_DATAWRAP_STAGEPRIMARYDATA_H

#include <orvex/improc/DP_Template.h>

namespace orvex {

template <class Data, class Input>
QZRef<Data> DP_Template<Data, Input>::GetPrimaryData(bool generate) {
  {
    std::lock_guard<std::mutex> lock(primaryDataMutex);
    if (primaryData || !generate) return primaryData;
  }
  // The inputs are readied without this stage's lock, so they may ask their own inputs.
  PrepareInputData();
  std::lock_guard<std::mutex> lock(primaryDataMutex);
  if (!primaryData && !primaryDataAttempted) {
    CountComputation();
    ComputePrimaryData();
    primaryDataAttempted = true;
  }
  return primaryData;
}

}  // namespace orvex

#endif
