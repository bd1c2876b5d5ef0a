#include <orvex/improc/QZObjectBase.h>

namespace orvex {

QZObjectBase::QZObjectBase() : m_refCount(0) {}

QZObjectBase::~QZObjectBase() = default;

QZObjectBase::QZObjectBase(const QZObjectBase&) : m_refCount(0) {}

QZObjectBase& QZObjectBase::operator=(const QZObjectBase&) { return *this; }

bool QZObjectBase::TryAddRef() {
  int count = __atomic_load_n(&m_refCount, __ATOMIC_ACQUIRE);
  // A count of 0, or the negative marker of a dying object, can never be revived.
  while (count > 0) {
    if (__atomic_compare_exchange_n(&m_refCount, &count, count + 1, true, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) {
      return true;
    }
  }
  return false;
}

}  // namespace orvex
