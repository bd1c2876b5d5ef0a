// The process-wide pool and the tree loader.
#include <orvex/loader/QZParameterTreeAndDataPool.h>

namespace orvex {

// Built during the library's static initialisation; its destructor, registered for
// process exit by the same initialisation, drops the loader's groups and trees before
// the table of results.
QZParameterTreeAndDataPool QZParameterTreeAndDataPool::m_instance;
QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::m_instancePtr = &QZParameterTreeAndDataPool::m_instance;

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::GetInstance() { return m_instancePtr; }

QZParameterTreeAndDataPool* QZParameterTreeAndDataPool::SetInstance(QZParameterTreeAndDataPool* pool) {
  if (pool != nullptr) m_instancePtr = pool;
  return m_instancePtr;
}

QZParameterTreeAndDataPool* InitParamTreeAndDataPool(QZParameterTreeAndDataPool* pool) {
  return QZParameterTreeAndDataPool::SetInstance(pool);
}

}  // namespace orvex
