// Allocation failures along one image's path and its release: for every K, the K-th
// allocation of the path throws std::bad_alloc. Afterwards no library lock is held, the
// process is alive, a release brings the table, the live wraps, stage objects and node
// stores back to where they were, and the same image processed again gives every result.
//
// This executable replaces the global operator new, so it is kept apart from the others.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>
#include <string>
#include <vector>

namespace {

// Allocations of the test thread are counted while armed; the one numbered g_failAt throws.
thread_local bool t_armed = false;
long g_allocations = 0;
long g_failAt = -1;

// Whether an allocation asked for at `caller` comes from OpenCV's own code. Those are
// left alone: OpenCV's matrix allocator loses a pixel block when its bookkeeping
// allocation fails, which is OpenCV's business, not this library's. Answers are kept
// per address in a table of fixed size (this runs inside operator new).
bool FromOpenCV(void* caller) {
  struct Slot {
    void* address;
    bool openCV;
  };
  static Slot slots[8192];
  const std::size_t hash = (reinterpret_cast<std::uintptr_t>(caller) >> 2) % 8192;
  for (std::size_t probe = 0; probe < 8192; ++probe) {
    Slot& slot = slots[(hash + probe) % 8192];
    if (slot.address == caller) return slot.openCV;
    if (slot.address == nullptr) {
      Dl_info info;
      slot.openCV = dladdr(caller, &info) != 0 && info.dli_fname != nullptr &&
                    std::strstr(info.dli_fname, "libopencv") != nullptr;
      slot.address = caller;
      return slot.openCV;
    }
  }
  return false;
}

bool FailsHere(void* caller) {
  if (!t_armed || FromOpenCV(caller)) return false;
  return ++g_allocations == g_failAt;
}

void* Allocate(std::size_t size, void* caller) {
  if (FailsHere(caller)) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment, void* caller) {
  if (FailsHere(caller)) throw std::bad_alloc();
  const std::size_t align = std::max(static_cast<std::size_t>(alignment), sizeof(void*));
  void* block = nullptr;
  if (posix_memalign(&block, align, size == 0 ? 1 : size) == 0) return block;
  throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new[](std::size_t size) { return Allocate(size, __builtin_return_address(0)); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment, __builtin_return_address(0));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return AllocateAligned(size, alignment, __builtin_return_address(0));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, __builtin_return_address(0));
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return Allocate(size, __builtin_return_address(0));
  } catch (...) {
    return nullptr;
  }
}
// Every replaced delete frees through this one function, kept out of line so that the
// compiler, inlining a delete into its caller, does not take free() for a mismatched one.
[[gnu::noinline]] static void FreeBlock(void* block) noexcept { std::free(block); }

void operator delete(void* block) noexcept { FreeBlock(block); }
void operator delete[](void* block) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t) noexcept { FreeBlock(block); }
void operator delete(void* block, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeBlock(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { FreeBlock(block); }

namespace orvex {
namespace {

// Counts the allocations of a scope; with `failAt` set, that one throws.
class ArmedAllocations {
 public:
  explicit ArmedAllocations(long failAt) {
    g_allocations = 0;
    g_failAt = failAt;
    t_armed = true;
  }
  ~ArmedAllocations() { Disarm(); }
  static void Disarm() { t_armed = false; }
  static long Count() { return g_allocations; }
};

// What lives in the process, and what the group's nodes hold.
struct Census {
  int tableEntries = 0;
  int wraps = 0;
  int stages = 0;
  int nodeResults = 0;

  static Census Of(const ParamTreeGroup& group) {
    Census census;
    census.tableEntries = group.GetTree()->GetTable()->GetDataMapSize();
    census.wraps = DW_Base::GetLiveCount();
    census.stages = DP_CommonBase::GetTotalLiveCount();
    for (int stage = 0; stage < QZParameterTree::kStageSlots; ++stage) {
      for (ParameterNodeBase* node : group.GetTree()->GetAllNodesOfStage(static_cast<tav::DataUnitStageType>(stage))) {
        census.nodeResults += node->GetDataCount();
      }
    }
    return census;
  }
  bool operator==(const Census& o) const {
    return tableEntries == o.tableEntries && wraps == o.wraps && stages == o.stages && nodeResults == o.nodeResults;
  }
};

std::ostream& operator<<(std::ostream& out, const Census& c) {
  return out << "table " << c.tableEntries << ", wraps " << c.wraps << ", stages " << c.stages << ", node results "
             << c.nodeResults;
}

// One image as a host handles it: add it, add its regions, generate and read every result
// (with parents, children and siblings), then release it. `added` says whether the add
// succeeded, `released` whether the release is done, so that a host can finish the job
// after a failure. Returns every result's id with what it holds, one per line, sorted.
class ImageJob {
 public:
  ImageJob(ParamTreeGroup& group, const cv::Mat& page) : m_group(group), m_page(page) {}

  std::string Process() {
    QZRef<QZMatrix> matrix(new QZMatrix(m_page));
    // Written by the call itself: nothing may fail between the add and its record.
    if (!m_group.AddSourceData(matrix, 0, 0, m_id, RequestEveryStage())) return "refused";
    added = true;
    testing::AddRegionsAndGenerateLines(m_group, m_id);
    std::vector<std::string> lines;
    for (int stage = tav::DUST_SOURCE_IMAGE; stage <= tav::DUST_LINE_SEGMENTS; ++stage) {
      tav::CDataUnitArray units;
      if (m_group.GetDataUnits(static_cast<tav::DataUnitStageType>(stage), m_id, &units) != 0) {
        throw std::bad_alloc();  // the listing could not be made: no memory for it
      }
      for (int i = 0; i < units.GetCount(); ++i) lines.push_back(Describe(*units.GetDataUnit(i)));
    }
    std::sort(lines.begin(), lines.end());
    std::ostringstream all;
    for (const std::string& line : lines) all << line << '\n';
    return all.str();
  }

  void Release() {
    if (!added) return;
    if (!m_countersLowered) {
      m_group.MinusSavedTypeCount(m_id, RequestEveryStage());
      m_countersLowered = true;
    }
    m_group.RemoveSameSourceData(m_id);
    released = true;
  }

  bool added = false;
  bool released = false;

 private:
  std::string Describe(const tav::CDataUnit& unit) {
    std::ostringstream line;
    line << unit.GetStageType() << ' ' << (unit.GetHashId() != nullptr ? unit.GetHashId() : "-");
    tav::CDataUnit* parent = nullptr;
    if (unit.GetParentDataUnit(&parent) != 0) throw std::bad_alloc();
    line << " parent " << (parent != nullptr && parent->GetHashId() != nullptr ? parent->GetHashId() : "-");
    tav::CDataUnitArray children;
    if (unit.GetChildDataUnits(&m_group, &children) != 0) throw std::bad_alloc();
    line << " children " << children.GetCount();
    tav::CDataUnitArray siblings;
    if (unit.GetSiblingDataUnits(&m_group, &siblings) != 0) throw std::bad_alloc();
    line << " siblings " << siblings.GetCount();
    core::CImageData* image = nullptr;
    if (unit.GetMediaType() == tav::DUMT_IMAGE && unit.GetDataAsImageData(&image) == 0 && image != nullptr) {
      line << " image " << image->GetWidth() << 'x' << image->GetHeight();
    }
    if (const auto* lines = dynamic_cast<const DW_LineSegments*>(&unit)) {
      DP_ProcessLineSet* stage = const_cast<DW_LineSegments*>(lines)->GetData(false);
      QZRef<LineSegmentSet> segments = stage != nullptr ? stage->GetPrimaryData(false) : QZRef<LineSegmentSet>();
      line << " segments " << (segments ? static_cast<int>(segments->segments.size()) : -1);
    }
    return line.str();
  }

  ParamTreeGroup& m_group;
  cv::Mat m_page;
  char m_id[kHashIdBufferSize] = "";
  bool m_countersLowered = false;
};

class AllocationFailures : public ::testing::Test {
 protected:
  void SetUp() override {
    cv::setNumThreads(0);  // every allocation of a stage on the test thread, in one order
    m_group = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->InitParameterTreeGroup(
        &m_parameters, &testing::RegisterGroup, "allocation-failure-sweep");
    ASSERT_TRUE(m_group);
    m_page = testing::DrawBarPage(cv::Size(200, 150));
  }
  void TearDown() override {
    m_group.reset();
    QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->UpdateTreeGroups();
  }

  QZ_ImageParameter m_parameters = testing::PageParameters(10);
  QZRef<ParamTreeGroup> m_group;
  cv::Mat m_page;
};

TEST_F(AllocationFailures, EveryFailingAllocationOfAnImagesPathAndReleaseLeavesTheCacheWhole) {
  const Census before = Census::Of(*m_group);
  std::string expected;
  long pathAllocations = 0;
  {
    ImageJob job(*m_group, m_page);
    ArmedAllocations counting(-1);
    expected = job.Process();
    job.Release();
    pathAllocations = ArmedAllocations::Count();
  }
  ASSERT_NE(expected, "refused");
  ASSERT_NE(expected.find(" segments "), std::string::npos) << "the page gives line segments";
  ASSERT_EQ(Census::Of(*m_group), before);
  ASSERT_GT(pathAllocations, 100);
  std::printf("the path and its release allocate %ld times\n", pathAllocations);

  int failures = 0;
  for (long k = 1; k <= pathAllocations; ++k) {
    ImageJob job(*m_group, m_page);
    try {
      ArmedAllocations failing(k);
      job.Process();
      job.Release();
    } catch (const std::bad_alloc&) {
      ++failures;
    }
    ArmedAllocations::Disarm();
    ASSERT_EQ(HeldLibraryLocks(), 0) << "a library lock is still held after allocation " << k << " failed";
    // The host finishes what it started: a release brings everything back.
    job.Release();
    ASSERT_EQ(Census::Of(*m_group), before) << "after allocation " << k << " failed";
    // The same image again gives every result, and its release leaves nothing behind.
    ImageJob again(*m_group, m_page);
    ASSERT_EQ(again.Process(), expected) << "after allocation " << k << " failed";
    again.Release();
    ASSERT_EQ(Census::Of(*m_group), before) << "after allocation " << k << " failed, processed again";
  }
  EXPECT_GT(failures, pathAllocations / 2) << "most allocations of the path can fail it";
}

}  // namespace
}  // namespace orvex
