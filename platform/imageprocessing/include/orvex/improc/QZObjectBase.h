// Reference-counted base of every long-lived object of the Orvex family.
//
// An object starts with count 0; counted handles (QZRef) take and drop counts, and
// the release() that brings the count to 0 deletes the object through its virtual
// destructor. Count changes are atomic, so handles to one object may live in any thread.
#ifndef ORVEX_IMPROC_QZOBJECTBASE_H
#define ORVEX_IMPROC_QZOBJECTBASE_H

#include <orvex/Export.h>

namespace orvex {

// Atomically adds 1 to *value and returns the new value.
inline int InterlockedIncrement(int* value) { return __atomic_add_fetch(value, 1, __ATOMIC_ACQ_REL); }
// Atomically subtracts 1 from *value and returns the new value.
inline int InterlockedDecrement(int* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_ACQ_REL); }

class ORVEX_EXPORT QZObjectBase {
 public:
  QZObjectBase();
  virtual ~QZObjectBase();

  // A copy is a new object: it starts uncounted, and assignment leaves counts alone.
  QZObjectBase(const QZObjectBase&);
  QZObjectBase& operator=(const QZObjectBase&);

  // Takes one count.
  void addRef() { InterlockedIncrement(&m_refCount); }
  // Takes one count unless none is left (the object is being destroyed); returns whether
  // it did. Lets a holder of a plain pointer pin an object that may die concurrently.
  bool TryAddRef();
  // Drops one count and deletes the object when it was the last; throws the int 4711
  // when no count is held. Defined in <orvex/foundation/QZRef.h>.
  inline void release();
  // Takes the object's last count from the one holder that has it: true when the count
  // was exactly 1, after which the object is marked as dying (TryAddRef fails) and the
  // caller must destroy it. Defined in <orvex/foundation/QZRef.h>.
  inline bool TryClaimSoleCount();
  // The current count, read atomically; a snapshot only while other threads hold handles.
  int GetRefCount() const { return __atomic_load_n(&m_refCount, __ATOMIC_ACQUIRE); }

 private:
  int m_refCount;
};

}  // namespace orvex

#include <orvex/foundation/QZRef.h>

#endif
