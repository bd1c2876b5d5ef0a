// The process-wide logger of the family, reached as QZLog::m_instance.
//
// Silent until the host installs a sink with Configure; there is no configuration
// file or environment variable. All operations are thread-safe; the sink is called
// under the logger's own lock (a leaf lock: the sink must not log or take library locks).
#ifndef ORVEX_IMPROC_QZLOG_H
#define ORVEX_IMPROC_QZLOG_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/improc/Enums.h>

#include <orvex/foundation/Mutex.h>

namespace orvex {

// One log record handed to the host's sink.
struct QZLogRecord {
  enum Kind { kMessage, kStepStart, kStepEnd };
  Kind kind;
  int level;
  const char* label;  // valid during the call only
  int elapsedMs;      // kStepEnd only
};

typedef void (*QZLogSink)(void* context, const QZLogRecord& record);

class ORVEX_EXPORT QZLog {
 public:
  static QZLog m_instance;

  // Sends records of `level` <= maxLevel to `sink`; `modes` is a mask of LogMode
  // values (timing is measured only when it holds LM_TIMING). A null sink silences the logger.
  void Configure(QZLogSink sink, void* context, int maxLevel, int modes);

  // Whether output of this level and mode reaches a sink.
  bool AllowLogging(int level, int mode) const;
  void WriteMessage(int level, const char* text);
  void WriteFuncStartLog(int level, const char* label);
  void WriteFuncEndLog(int level, const char* label, int elapsedMs);

 private:
  void Write(QZLogRecord::Kind kind, int level, const char* label, int elapsedMs);

  // m_mutex guards the four fields below; a leaf: the sink runs under it and must take
  // no library lock.
  mutable Mutex m_mutex;
  QZLogSink m_sink ORVEX_GUARDED_BY(m_mutex) = nullptr;
  void* m_context ORVEX_GUARDED_BY(m_mutex) = nullptr;
  int m_maxLevel ORVEX_GUARDED_BY(m_mutex) = 0;
  int m_modes ORVEX_GUARDED_BY(m_mutex) = 0;
};

}  // namespace orvex

#endif
