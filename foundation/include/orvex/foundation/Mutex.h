// The library's mutex: a std::mutex that clang's thread-safety analysis knows as a
// capability (so ORVEX_GUARDED_BY, ORVEX_REQUIRES and the lock order are checked with
// any standard library), and that in checking builds (ORVEX_CHECK_HELD_LOCKS, set for the
// sanitizer builds) counts the library locks each thread holds. Its layout is the same in
// every build, and the installed package hands the definition on to its hosts (the CMake
// target and the pkg-config file), so a host cannot be built against a checking library
// without it. The counted objects that
// matter (results, stage objects, matrices, nodes, trees, groups) assert in their
// destructor that the count is 0: nothing is freed while a library lock is held. Three
// exceptions: the blocks of pointer lists are plain storage and may go anywhere; a stage
// computation, which runs under its stage's and its wrap's locks, may free the matrices
// it made itself (nothing else can hold them yet; the matrix knows the computation that
// made it); and while an exception unwinds (no memory), the half-made objects of the
// failed call go with the locks of its callers still held, which is safe since no
// container lists them and their destructors take only the wrap link mutex, a leaf.
// The loader's mutex is the one exception: it is the outermost lock, nothing it guards
// is taken by a destructor, and trees and groups are built and dropped under it.
#ifndef ORVEX_FOUNDATION_MUTEX_H
#define ORVEX_FOUNDATION_MUTEX_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>

namespace orvex {

// The library locks this thread holds (kept in checking builds only, 0 otherwise). One
// counter for every Orvex library and host: the function is exported, so the dynamic
// linker binds every library to the same thread-local variable.
ORVEX_EXPORT inline int& HeldLibraryLocks() noexcept {
  static thread_local int held = 0;
  return held;
}

// In checking builds, aborts naming `what` when this thread holds a library lock and is
// not unwinding an exception.
inline void ExpectNoLibraryLockHeld(const char* what) noexcept {
#ifdef ORVEX_CHECK_HELD_LOCKS
  if (HeldLibraryLocks() != 0 && std::uncaught_exceptions() == 0) {
    std::fprintf(stderr, "orvex: %s while this thread holds %d library lock(s)\n", what, HeldLibraryLocks());
    std::abort();
  }
#else
  (void)what;
#endif
}

class ORVEX_CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ORVEX_ACQUIRE() {
    m_mutex.lock();
    Count(1);
  }
  void unlock() ORVEX_RELEASE() {
    Count(-1);
    m_mutex.unlock();
  }

 protected:
  // A mutex left out of the per-thread count (the outermost lock).
  struct Uncounted {};
  explicit Mutex(Uncounted) : m_counted(false) {}

 private:
  void Count(int change) noexcept {
#ifdef ORVEX_CHECK_HELD_LOCKS
    if (m_counted) HeldLibraryLocks() += change;
#else
    (void)change;
    (void)m_counted;
#endif
  }

  // Whether the checking builds count this mutex; present in every build, so that the
  // layout never depends on the build.
  bool m_counted = true;
  std::mutex m_mutex;
};

// The outermost lock of the library (a loader's): not counted, since building and
// dropping trees and groups under it frees objects by design.
class ORVEX_CAPABILITY("mutex") OutermostMutex : public Mutex {
 public:
  OutermostMutex() : Mutex(Uncounted{}) {}
};

// Holds a mutex for its scope.
class ORVEX_SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ORVEX_ACQUIRE(mutex) : m_mutex(mutex) { m_mutex.lock(); }
  ~MutexLock() ORVEX_RELEASE() { m_mutex.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_mutex;
};

}  // namespace orvex

#endif
