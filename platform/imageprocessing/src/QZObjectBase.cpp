#include <orvex/improc/QZObjectBase.h>

namespace orvex {

int InterlockedIncrement(int* value) { return __atomic_add_fetch(value, 1, __ATOMIC_ACQ_REL); }

int InterlockedDecrement(int* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_ACQ_REL); }

QZObjectBase::QZObjectBase() : m_refCount(0) {}

QZObjectBase::~QZObjectBase() = default;

QZObjectBase::QZObjectBase(const QZObjectBase&) : m_refCount(0) {}

QZObjectBase& QZObjectBase::operator=(const QZObjectBase&) { return *this; }

int QZObjectBase::GetRefCount() const { return __atomic_load_n(&m_refCount, __ATOMIC_ACQUIRE); }

}  // namespace orvex
