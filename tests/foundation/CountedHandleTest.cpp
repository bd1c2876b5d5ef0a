// Counted handles, the release rule, pointer blocks and growable pointer lists.
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

// --- growable lists ---

class PointerListTest : public ::testing::Test {
 protected:
  // Distinct fake addresses; the lists never dereference their elements.
  static DW_Base* Wrap(int i) { return reinterpret_cast<DW_Base*>(static_cast<intptr_t>(0x1000 + 16 * i)); }
  static ParameterNodeBase* Node(int i) {
    return reinterpret_cast<ParameterNodeBase*>(static_cast<intptr_t>(0x2000 + 16 * i));
  }
};

TEST_F(PointerListTest, GrowsByDoublingToThirtyTwoThenByFour) {
  DataWrapArray list;
  EXPECT_EQ(list.GetCapacity(), 0);
  std::vector<int> capacities;
  for (int i = 0; i < 41; ++i) {
    list.push_back(Wrap(i));
    capacities.push_back(list.GetCapacity());
  }
  EXPECT_EQ(capacities[0], 2);
  EXPECT_EQ(capacities[2], 4);
  EXPECT_EQ(capacities[4], 8);
  EXPECT_EQ(capacities[31], 32);
  EXPECT_EQ(capacities[32], 36);  // the 33rd element
  EXPECT_EQ(capacities[36], 40);  // the 37th
  EXPECT_EQ(capacities[40], 44);
  for (int i = 0; i < 41; ++i) EXPECT_EQ(list[i], Wrap(i));
}

TEST_F(PointerListTest, EraseRemovesFirstOccurrenceOnlyAndKeepsOrder) {
  DataWrapArray list;
  list.erase(Wrap(1));
  EXPECT_EQ(list.GetCount(), 0);
  for (int i : {1, 2, 3, 2, 4}) list.push_back(Wrap(i));
  list.erase(Wrap(9));
  EXPECT_EQ(list.GetCount(), 5);
  list.erase(Wrap(2));
  ASSERT_EQ(list.GetCount(), 4);
  EXPECT_EQ(list[0], Wrap(1));
  EXPECT_EQ(list[1], Wrap(3));
  EXPECT_EQ(list[2], Wrap(2));
  EXPECT_EQ(list[3], Wrap(4));
  EXPECT_EQ(list.GetCapacity(), 8);
}

TEST_F(PointerListTest, CopiesShareTheBlockUntilOneAppends) {
  ParamNodeArray a;
  a.push_back(Node(0));
  ParamNodeArray b(a);
  EXPECT_EQ(b.GetCount(), 1);
  EXPECT_EQ(b.GetParameterNodeBase(0), Node(0));

  a.push_back(Node(1));  // room in the shared block, but the copy's slot must stay its own
  b.push_back(Node(2));
  ASSERT_EQ(a.GetCount(), 2);
  ASSERT_EQ(b.GetCount(), 2);
  EXPECT_EQ(a[1], Node(1));
  EXPECT_EQ(b[1], Node(2));

  a.push_back(Node(3));  // grows into a block of its own
  EXPECT_EQ(a[2], Node(3));
  EXPECT_EQ(b.GetCount(), 2);
  EXPECT_EQ(b[0], Node(0));
}

TEST(MathUtilsTest, RoundsHalfAwayFromZero) {
  EXPECT_EQ(MathUtils::round(2.5f), 3);
  EXPECT_EQ(MathUtils::round(-2.5f), -3);
  EXPECT_EQ(MathUtils::round(0.49f), 0);
  EXPECT_EQ(MathUtils::round(-0.49f), 0);
  EXPECT_EQ(MathUtils::round(0.0f), 0);
}

TEST(MathUtilsTest, DistanceOfFloatAndIntegerPoints) {
  EXPECT_FLOAT_EQ(MathUtils::distance(0.0f, 0.0f, 3.0f, 4.0f), 5.0f);
  EXPECT_FLOAT_EQ(MathUtils::distance(1, 1, 4, 5), 5.0f);
  EXPECT_FLOAT_EQ(MathUtils::distance(-2, 0, 2, 0), 4.0f);
}

}  // namespace
}  // namespace orvex
