// Entry and exit records of a timed step on the process-wide logger.
//
// Inner workings, installed only because StageWraps.h holds or uses it: not part of the
// interface hosts program against, and free to change.
#ifndef ORVEX_DATAWRAP_DETAIL_TIMEDSTEP_H
#define ORVEX_DATAWRAP_DETAIL_TIMEDSTEP_H

#include <orvex/improc/QZLog.h>

#include <ctime>

namespace orvex {

// Writes the entry record on construction and the exit record, with the processor time
// elapsed in milliseconds (0 when timing is not wanted), on destruction; nothing for a
// null label.
class TimedStep {
 public:
  explicit TimedStep(const char* label) : m_label(label), m_start(0) {
    if (m_label == nullptr) return;
    QZLog::m_instance.WriteFuncStartLog(kLevel, m_label);
    m_start = Stamp();
  }
  ~TimedStep() {
    if (m_label != nullptr) QZLog::m_instance.WriteFuncEndLog(kLevel, m_label, Stamp() - m_start);
  }
  TimedStep(const TimedStep&) = delete;
  TimedStep& operator=(const TimedStep&) = delete;

 private:
  static constexpr int kLevel = 1;

  static int Stamp() {
    if (!QZLog::m_instance.AllowLogging(kLevel, LM_TIMING)) return 0;
    return static_cast<int>(std::clock() / 1000000.0 * 1000.0);
  }

  const char* m_label;
  int m_start;
};

}  // namespace orvex

#endif
