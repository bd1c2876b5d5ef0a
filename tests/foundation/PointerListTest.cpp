// Growable pointer lists: their growth rule, erasure and shared blocks.
#include <OrvexStagecacheHost.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace orvex {
namespace {

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

}  // namespace
}  // namespace orvex
