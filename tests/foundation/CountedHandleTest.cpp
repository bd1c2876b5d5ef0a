// Counted handles, the release rule and pointer blocks.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace orvex {
namespace {

// Records its destruction so a test can state the moment an object goes.
class Tracked : public QZObjectBase {
 public:
  explicit Tracked(int* destroyed) : m_destroyed(destroyed) {}
  ~Tracked() override { ++*m_destroyed; }

 private:
  int* m_destroyed;
};

// An object whose counted base is its second base, as the parameter nodes have it.
struct FirstBase {
  virtual ~FirstBase() = default;
  int payload = 7;
};
class SecondBaseCounted : public FirstBase, public QZObjectBase {
 public:
  explicit SecondBaseCounted(int* destroyed) : m_destroyed(destroyed) {}
  ~SecondBaseCounted() override { ++*m_destroyed; }

 private:
  int* m_destroyed;
};

TEST(CountedHandle, LastHandleDestroysExactlyOnce) {
  int destroyed = 0;
  {
    QZRef<Tracked> a(new Tracked(&destroyed));
    EXPECT_EQ(a->GetRefCount(), 1);
    {
      QZRef<Tracked> copy = a;
      EXPECT_EQ(a->GetRefCount(), 2);
    }
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(a->GetRefCount(), 1);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(CountedHandle, ResetToHeldPointerKeepsSoleCountAndObject) {
  int destroyed = 0;
  QZRef<Tracked> a(new Tracked(&destroyed));
  a.reset(a.get());
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(a->GetRefCount(), 1);
  QZRef<Tracked>& self = a;
  a = self;
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(a->GetRefCount(), 1);
  a.reset();
  EXPECT_EQ(destroyed, 1);
  EXPECT_FALSE(a);
}

TEST(CountedHandle, AssignmentMovesCountsBetweenObjects) {
  int destroyedA = 0, destroyedB = 0;
  QZRef<Tracked> a(new Tracked(&destroyedA));
  QZRef<Tracked> b(new Tracked(&destroyedB));
  b = a;
  EXPECT_EQ(destroyedB, 1);
  EXPECT_EQ(a->GetRefCount(), 2);
  QZRef<Tracked> moved(std::move(b));
  EXPECT_FALSE(b);
  EXPECT_EQ(a->GetRefCount(), 2);
  moved = QZRef<Tracked>();
  EXPECT_EQ(a->GetRefCount(), 1);
  EXPECT_EQ(destroyedA, 0);
}

TEST(CountedHandle, ReleaseOfUncountedObjectThrows4711AndKeepsIt) {
  int destroyed = 0;
  Tracked* fresh = new Tracked(&destroyed);
  try {
    fresh->release();
    FAIL() << "release() of an uncounted object did not throw";
  } catch (int code) {
    EXPECT_EQ(code, 4711);
  }
  EXPECT_EQ(fresh->GetRefCount(), 0);
  EXPECT_EQ(destroyed, 0);
  QZRef<Tracked> adopt(fresh);  // the object is still usable and now freed by its handle
  EXPECT_EQ(adopt->GetRefCount(), 1);
}

TEST(CountedHandle, CountThroughSecondBaseDestroysWholeObject) {
  int destroyed = 0;
  SecondBaseCounted* object = new SecondBaseCounted(&destroyed);
  {
    QZRef<SecondBaseCounted> a(object);
    QZRef<SecondBaseCounted> b(a);
    EXPECT_EQ(static_cast<QZObjectBase*>(object)->GetRefCount(), 2);
    EXPECT_EQ(a->payload, 7);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST(CountedHandle, DestructorSeesDeadMarkerInCount) {
  struct MarkerProbe : QZObjectBase {
    explicit MarkerProbe(unsigned int* seen) : m_seen(seen) {}
    ~MarkerProbe() override { *m_seen = static_cast<unsigned int>(GetRefCount()); }
    unsigned int* m_seen;
  };
  unsigned int seen = 0;
  QZRef<MarkerProbe> probe(new MarkerProbe(&seen));
  probe.reset();
  EXPECT_EQ(seen, 0xDEADF001u);
}

TEST(CountedHandle, HandlesInManyThreadsDestroyOnce) {
  int destroyed = 0;
  QZRef<Tracked> shared(new Tracked(&destroyed));
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([shared] {
      for (int i = 0; i < 2000; ++i) {
        QZRef<Tracked> local = shared;
        local.reset();
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(shared->GetRefCount(), 1);
  shared.reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
}  // namespace orvex
