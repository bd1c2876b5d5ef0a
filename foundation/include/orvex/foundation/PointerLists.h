// Growable lists of plain pointers, kept in a counted QZArray block.
//
// The lists neither count nor delete the objects they list. A list is not
// synchronised: its owner guards it (a data wrap's link lock, a tree under construction).
#ifndef ORVEX_FOUNDATION_POINTERLISTS_H
#define ORVEX_FOUNDATION_POINTERLISTS_H

#include <orvex/foundation/QZRef.h>

namespace orvex {

class DW_Base;
class ParameterNodeBase;

// Invariant: 0 <= count <= capacity of the block (0 without a block); only slots
// 0 .. count-1 are meaningful.
template <class T>
class PointerList {
 public:
  PointerList() : m_count(0) {}

  int GetCount() const { return m_count; }
  // Slots in the current block, 0 before the first push_back.
  int GetCapacity() const { return m_storage ? m_storage->GetCapacity() : 0; }

  // Makes room for `capacity` elements at once, for callers that know how many will
  // come; push_back grows by its rule from there.
  void Reserve(int capacity) {
    if (capacity > GetCapacity()) MallocCapacity(capacity);
  }
  // Makes room for one more element in a block of this list's own, so that the next
  // push_back cannot fail.
  void MakeRoomForOneMore() {
    const int capacity = GetCapacity();
    if (capacity <= m_count) {
      // Growth rule: double up to 32 slots, then 4 more at a time (2, 4, ..., 32, 36, 40, ...).
      int grown = capacity >= 32 ? capacity + 4 : capacity * 2;
      MallocCapacity(grown < 2 ? 2 : grown);
    } else if (m_storage->GetRefCount() > 1) {
      // A block shared with a copy is never written in place: the copy's slots stay its own.
      MallocCapacity(capacity);
    }
  }
  // REQUIRES: 0 <= i < GetCount().
  T operator[](int i) const { return m_storage->GetBlock()[i]; }

  void push_back(T p) {
    MakeRoomForOneMore();
    m_storage->GetBlock()[m_count] = p;
    ++m_count;
  }

 protected:
  // Removes slot i, keeping the order of the others. A block shared with a copy is
  // replaced first, so the copy keeps its elements.
  void EraseAt(int i) {
    if (m_storage->GetRefCount() > 1) MallocCapacity(GetCapacity());
    T* block = m_storage->GetBlock();
    for (int j = i + 1; j < m_count; ++j) block[j - 1] = block[j];
    --m_count;
  }

  // Replaces the block by a new one of n slots holding the old block's slots.
  void MallocCapacity(int n) {
    QZArrayRef<T> old = m_storage;
    QZArrayRef<T> fresh(new QZArray<T>(n));
    if (old) {
      const int oldCapacity = old->GetCapacity();
      for (int i = 0; i < oldCapacity && i < n; ++i) fresh->GetBlock()[i] = old->GetBlock()[i];
    }
    m_storage = fresh;
  }

  int m_count;
  QZArrayRef<T> m_storage;
};

// The child list of a data wrap.
class DataWrapArray : public PointerList<DW_Base*> {
 public:
  DataWrapArray() = default;
  DataWrapArray(const DataWrapArray&) = delete;
  DataWrapArray& operator=(const DataWrapArray&) = delete;

  // Removes the first element equal to p, keeping the order of the others.
  void erase(DW_Base* p) {
    for (int i = 0; i < m_count; ++i) {
      if ((*this)[i] == p) return EraseAt(i);
    }
  }
};

// A list of parameter nodes. Copies share the block until one of them appends.
class ParamNodeArray : public PointerList<ParameterNodeBase*> {
 public:
  ParamNodeArray() = default;
  ParamNodeArray(const ParamNodeArray&) = default;
  ParamNodeArray& operator=(const ParamNodeArray&) = default;

  // REQUIRES: 0 <= i < GetCount().
  ParameterNodeBase* GetParameterNodeBase(int i) const { return (*this)[i]; }
};

}  // namespace orvex

#endif
