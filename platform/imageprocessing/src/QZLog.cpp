#include <orvex/improc/QZLog.h>

namespace orvex {

QZLog QZLog::m_instance;

void QZLog::Configure(QZLogSink sink, void* context, int maxLevel, int modes) {
  MutexLock lock(m_mutex);
  m_sink = sink;
  m_context = context;
  m_maxLevel = maxLevel;
  m_modes = modes;
}

bool QZLog::AllowLogging(int level, int mode) const {
  MutexLock lock(m_mutex);
  return m_sink != nullptr && level <= m_maxLevel && (m_modes & mode) != 0;
}

void QZLog::WriteMessage(int level, const char* text) { Write(QZLogRecord::kMessage, level, text, 0); }

void QZLog::WriteFuncStartLog(int level, const char* label) { Write(QZLogRecord::kStepStart, level, label, 0); }

void QZLog::WriteFuncEndLog(int level, const char* label, int elapsedMs) {
  Write(QZLogRecord::kStepEnd, level, label, elapsedMs);
}

void QZLog::Write(QZLogRecord::Kind kind, int level, const char* label, int elapsedMs) {
  MutexLock lock(m_mutex);
  if (m_sink == nullptr || level > m_maxLevel) return;
  m_sink(m_context, QZLogRecord{kind, level, label != nullptr ? label : "", elapsedMs});
}

}  // namespace orvex
