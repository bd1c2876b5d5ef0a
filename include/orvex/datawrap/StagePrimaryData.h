// How a processing stage hands out its result: computed once, on first request.
#ifndef ORVEX_DATAWRAP_STAGEPRIMARYDATA_H
#define ORVEX_DATAWRAP_STAGEPRIMARYDATA_H

#include <orvex/improc/DP_Template.h>
#include <orvex/improc/QZLog.h>

#include <chrono>
#include <exception>

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
    const auto start = std::chrono::steady_clock::now();
    try {
      ComputePrimaryData();
    } catch (const std::exception& failure) {
      // No memory for a result, or OpenCV refusing its input: the stage has no result.
      primaryData.reset();
      transformFromSource.reset();
      QZLog::m_instance.WriteMessage(1, failure.what());
    }
    primaryDataAttempted = true;
    CountComputation(std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start).count());
    if (primaryData) {
      if (const cv::Mat* image = ResultImageOf(*primaryData)) AccountResultBytes(static_cast<int64_t>(image->total() * image->elemSize()));
    }
  }
  return primaryData;
}

}  // namespace orvex

#endif
