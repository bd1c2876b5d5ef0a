// Reference-counted base of every long-lived object of the Orvex family.
//
// An object starts with count 0; counted handles (QZRef, in QZRef.h) take and drop
// counts, and the release() that brings the count to 0 deletes the object through its
// virtual destructor. Count changes are atomic, so handles to one object may live in any
// thread. Header-only, so that every Orvex library counts objects the same way.
#ifndef ORVEX_FOUNDATION_QZOBJECTBASE_H
#define ORVEX_FOUNDATION_QZOBJECTBASE_H

#include <orvex/foundation/Export.h>

#include <atomic>

namespace orvex {

// Atomically adds 1 to *value and returns the new value.
inline int InterlockedIncrement(int* value) { return __atomic_add_fetch(value, 1, __ATOMIC_ACQ_REL); }
// Atomically subtracts 1 from *value and returns the new value.
inline int InterlockedDecrement(int* value) { return __atomic_sub_fetch(value, 1, __ATOMIC_ACQ_REL); }

// The marker left in the count while an object's deleting destructor runs.
constexpr unsigned int kReleasedObjectMarker = 0xDEADF001u;
// What release() throws when called on an object that holds no count.
constexpr int kReleaseWithoutCount = 4711;

class ORVEX_EXPORT QZObjectBase {
 public:
  QZObjectBase() = default;
  virtual ~QZObjectBase() = default;

  // A copy is a new object: it starts uncounted, and assignment leaves counts alone.
  QZObjectBase(const QZObjectBase&) {}
  QZObjectBase& operator=(const QZObjectBase&) { return *this; }

  // Takes one count.
  void addRef() { m_refCount.fetch_add(1, std::memory_order_relaxed); }

  // Takes one count unless none is left (the object is being destroyed); returns whether
  // it did. Lets a holder of a plain pointer pin an object that may die concurrently.
  bool TryAddRef() {
    int count = m_refCount.load(std::memory_order_acquire);
    // A count of 0, or the negative marker of a dying object, can never be revived.
    while (count > 0) {
      if (m_refCount.compare_exchange_weak(count, count + 1, std::memory_order_acquire)) return true;
    }
    return false;
  }

  // Drops one count and deletes the object when it was the last; throws the int 4711
  // when no count is held.
  void release() {
    if (GetRefCount() == 0) throw kReleaseWithoutCount;
    if (m_refCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      m_refCount.store(static_cast<int>(kReleasedObjectMarker), std::memory_order_relaxed);
      delete this;
    }
  }

  // Takes the object's last count from the one holder that has it: true when the count
  // was exactly 1, after which the object is marked as dying (TryAddRef fails) and the
  // caller must destroy it.
  bool TryClaimSoleCount() {
    int expected = 1;
    return m_refCount.compare_exchange_strong(expected, static_cast<int>(kReleasedObjectMarker), std::memory_order_acq_rel,
                                              std::memory_order_acquire);
  }

  // The current count, read atomically; a snapshot only while other threads hold handles.
  int GetRefCount() const { return m_refCount.load(std::memory_order_acquire); }

 private:
  // Memory order: a new count needs no ordering (relaxed), since its taker already holds
  // the object through another count; TryAddRef takes one with acquire, so a pinned
  // object is seen as its last releaser left it; dropping a count is acq_rel, so every
  // write made through any handle happens before the delete by the thread that drops the
  // last one. The dying marker replaces 0, which no thread can revive (TryAddRef refuses
  // counts below 1), so it needs no ordering either.
  std::atomic<int> m_refCount{0};
};

}  // namespace orvex

#endif
