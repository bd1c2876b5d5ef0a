// Counted handles and counted pointer blocks.
//
// QZRef<T> holds one count of an object derived from QZObjectBase:
//
//   QZRef<QZMatrix> a(new QZMatrix);  // count 1: a holds it
//   QZRef<QZMatrix> b = a;            // count 2
//   b.reset();                        // count 1
//   a.reset(a.get());                 // still 1: the increment comes before the release
//   a.reset();                        // count 0: the matrix deletes itself
//
// A handle is one pointer wide and never allocates. One handle is not to be used from
// two threads at once; distinct handles to one object may be. QZRef<const T> holds an
// object that its holder only reads; a QZRef<T> converts to it, never the other way.
#ifndef ORVEX_FOUNDATION_QZREF_H
#define ORVEX_FOUNDATION_QZREF_H

#include <orvex/foundation/QZObjectBase.h>
#include <orvex/foundation/RoomForOneMore.h>

#include <cstddef>
#include <type_traits>
#include <utility>
#include <vector>

namespace orvex {

class QZGraveyard;

template <class T>
class QZRef {
 public:
  QZRef() noexcept : m_ptr(nullptr) {}
  // Implicit, as a counted handle made from a new object reads best: QZRef<T> h = new T;
  QZRef(T* p) : m_ptr(nullptr) { reset(p); }
  QZRef(std::nullptr_t) noexcept : m_ptr(nullptr) {}
  QZRef(const QZRef& other) : m_ptr(nullptr) { reset(other.m_ptr); }
  QZRef(QZRef&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
  template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
  QZRef(const QZRef<U>& other) : m_ptr(nullptr) {
    reset(other.get());
  }
  ~QZRef() {
    if (m_ptr != nullptr) Base(m_ptr)->release();
  }

  QZRef& operator=(const QZRef& other) {
    reset(other.m_ptr);
    return *this;
  }
  QZRef& operator=(QZRef&& other) noexcept {
    if (this != &other) {
      QZRef dropped(std::move(*this));
      m_ptr = other.m_ptr;
      other.m_ptr = nullptr;
    }
    return *this;
  }

  // Holds p instead of the current object. p gains its count before the old object
  // loses one, so resetting to the pointer already held is safe.
  void reset(T* p = nullptr) {
    if (p != nullptr) Base(p)->addRef();
    T* old = m_ptr;
    m_ptr = p;
    if (old != nullptr) Base(old)->release();
  }

  // A handle to p while p still has a count somewhere, else an empty handle: pins an
  // object known only by a plain pointer without reviving one that is being destroyed.
  static QZRef TryPin(T* p) {
    QZRef ref;
    if (p != nullptr && Base(p)->TryAddRef()) ref.m_ptr = p;
    return ref;
  }

  // Hands the held object over for destruction when this handle holds its only count:
  // afterwards the object can no longer be pinned, this handle is empty, and `graveyard`
  // destroys the object when it goes. False, nothing changed, when others hold counts.
  bool ClaimIfSole(QZGraveyard& graveyard);

  void swap(QZRef& other) noexcept { std::swap(m_ptr, other.m_ptr); }
  T* get() const noexcept { return m_ptr; }
  T* operator->() const noexcept { return m_ptr; }
  T& operator*() const noexcept { return *m_ptr; }
  // The held object as a plain pointer (null when empty): borrowed, valid while a count
  // is held somewhere. Also what tests a handle against null.
  operator T*() const noexcept { return m_ptr; }

 private:
  // Counting always goes through the QZObjectBase part, wherever it lies in T. A count is
  // not part of an object's value, so a handle to a const object counts it too.
  static QZObjectBase* Base(T* p) { return const_cast<QZObjectBase*>(static_cast<const QZObjectBase*>(p)); }

  T* m_ptr;
};

// Objects whose last count was claimed (QZRef::ClaimIfSole), destroyed together when the
// graveyard goes: lets a container give up objects under its lock and free them after it.
class QZGraveyard {
 public:
  QZGraveyard() = default;
  ~QZGraveyard() { Clear(); }
  QZGraveyard(const QZGraveyard&) = delete;
  QZGraveyard& operator=(const QZGraveyard&) = delete;

  // Makes room for one more object, so that the next Bury cannot fail.
  void MakeRoom() { MakeRoomForOneMore(m_objects); }
  // Takes `object` for destruction. REQUIRES: MakeRoom since the last Bury.
  void Bury(QZObjectBase* object) noexcept { m_objects.push_back(object); }
  // Destroys the buried objects now.
  void Clear() {
    std::vector<QZObjectBase*> objects;
    objects.swap(m_objects);
    for (QZObjectBase* object : objects) delete object;
  }
  bool IsEmpty() const { return m_objects.empty(); }

 private:
  std::vector<QZObjectBase*> m_objects;
};

template <class T>
bool QZRef<T>::ClaimIfSole(QZGraveyard& graveyard) {
  if (m_ptr == nullptr) return false;
  // Room first: a claimed object must reach the graveyard, or nothing would ever free it.
  graveyard.MakeRoom();
  if (!Base(m_ptr)->TryClaimSoleCount()) return false;
  graveyard.Bury(Base(m_ptr));
  m_ptr = nullptr;
  return true;
}

template <class T, class U>
bool operator==(const QZRef<T>& a, const QZRef<U>& b) {
  return a.get() == b.get();
}
template <class T, class U>
bool operator!=(const QZRef<T>& a, const QZRef<U>& b) {
  return a.get() != b.get();
}

// A counted, fixed-capacity block of pointers (T is the element type, a pointer).
// It never touches the objects its elements point to.
template <class T>
class QZArray : public QZObjectBase {
 public:
  explicit QZArray(int capacity) : m_block(capacity > 0 ? new T[capacity]() : nullptr), m_capacity(capacity > 0 ? capacity : 0) {}
  ~QZArray() override { delete[] m_block; }
  QZArray(const QZArray&) = delete;
  QZArray& operator=(const QZArray&) = delete;

  T* GetBlock() const { return m_block; }
  int GetCapacity() const { return m_capacity; }

 private:
  T* m_block;
  int m_capacity;
};

template <class T>
using QZArrayRef = QZRef<QZArray<T>>;

}  // namespace orvex

#endif
