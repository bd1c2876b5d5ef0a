// The table's purge finds the entries only it holds without walking the table: held
// against the simple walk (every entry whose result has one count) over random holders.
#include "HandTree.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace orvex {
namespace testing {
namespace {

// A node that keeps whatever results it is given.
class HolderNode : public ParameterNodeBase {
 public:
  using ParameterNodeBase::ParameterNodeBase;
  void Keep(const std::string& key, const QZRef<DW_Base>& result) {
    MutexLock lock(m_dataMutex);
    if (m_dataMap.Find(key) == nullptr) KeepResult(key, result);
  }
};

// Random holders of results entered in a private table: nodes under several keys, host
// handles, a second key for a few, and an empty entry.
class PurgeAgainstSimpleWalk {
 public:
  explicit PurgeAgainstSimpleWalk(unsigned seed) : m_random(seed) {}

  void Run(int steps) {
    m_table.AddToTotalDataMap("empty-entry", QZRef<DW_Base>());
    for (int step = 0; step < steps; ++step) {
      switch (Pick(9)) {
        case 0: case 1: NewResult(); break;
        case 2: case 3: NodeKeeps(); break;
        case 4: NodeDropsSource(); break;
        case 5: HostHandle(); break;
        case 6: ReplaceNode(); break;
        case 7: Pick(2) ? SecondKey() : Replace(); break;
        default: PurgeAndCompare(); break;
      }
    }
    m_handles.clear();
    m_nodes.clear();
    PurgeAndCompare();
    // With every other holder gone, only results the table holds under two keys remain
    // (each entry keeps the other's count up), besides the empty entry.
    std::map<const DW_Base*, int> entriesOf;
    for (const std::string& id : m_ids) {
      QZRef<DW_Base> result;
      ASSERT_TRUE(m_table.GetFromTotalDataMap(id, result));
      ++entriesOf[result.get()];
    }
    for (const auto& entries : entriesOf) EXPECT_GT(entries.second, 1);
    EXPECT_EQ(m_table.GetDataMapSize(), 1 + static_cast<int>(m_ids.size()));
  }

 private:
  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }

  std::string Source() { return "source-" + std::to_string(Pick(5)); }

  void NewResult() {
    QZRef<DW_Base> result(new DW_GrayscaleImageColourConverted(nullptr, nullptr));
    const std::string id = "result-" + std::to_string(m_next++);
    result->SetSourceHashID(Source());
    result->SetDataHashID(id);
    if (Pick(2)) m_table.AddToTotalDataMap(id, result);
    else m_table.AddToTotalDataMapIfAbsent(id, result);
    m_ids.insert(id);
    if (Pick(3) == 0) m_handles.push_back(result);
    else if (!m_nodes.empty()) Node()->Keep(Pick(2) ? result->GetSourceHashID() : id, result);
  }

  HolderNode* Node() { return static_cast<HolderNode*>(m_nodes[Pick(static_cast<int>(m_nodes.size()))].get()); }

  QZRef<DW_Base> AnyResult() {
    if (m_ids.empty()) return QZRef<DW_Base>();
    auto it = m_ids.begin();
    std::advance(it, Pick(static_cast<int>(m_ids.size())));
    QZRef<DW_Base> result;
    m_table.GetFromTotalDataMap(*it, result);
    return result;
  }

  void NodeKeeps() {
    if (m_nodes.size() < 4) m_nodes.emplace_back(new HolderNode(m_tree.get()));
    if (QZRef<DW_Base> result = AnyResult()) Node()->Keep(Pick(2) ? result->GetSourceHashID() : result->GetDataHashID(), result);
  }

  void NodeDropsSource() {
    if (!m_nodes.empty()) Node()->RemoveSameSourceData(Source());
  }

  void HostHandle() {
    if (!m_handles.empty() && Pick(2)) {
      m_handles.erase(m_handles.begin() + Pick(static_cast<int>(m_handles.size())));
    } else if (QZRef<DW_Base> result = AnyResult()) {
      m_handles.push_back(result);
    }
  }

  void ReplaceNode() {
    if (!m_nodes.empty()) m_nodes.erase(m_nodes.begin() + Pick(static_cast<int>(m_nodes.size())));
  }

  void SecondKey() {
    if (QZRef<DW_Base> result = AnyResult()) {
      const std::string id = "second-" + std::to_string(m_next++);
      m_table.AddToTotalDataMap(id, result);
      m_ids.insert(id);
    }
  }

  // Enters a new result under an id that is taken, replacing the entry.
  void Replace() {
    if (m_ids.empty()) return;
    auto it = m_ids.begin();
    std::advance(it, Pick(static_cast<int>(m_ids.size())));
    QZRef<DW_Base> result(new DW_GrayscaleImageColourConverted(nullptr, nullptr));
    result->SetSourceHashID(Source());
    m_table.AddToTotalDataMap(*it, result);
  }

  // The simple walk's answer: the ids whose result has no holder but the table.
  std::set<std::string> OnlyInTable() {
    std::set<std::string> only;
    for (const std::string& id : m_ids) {
      QZRef<DW_Base> result;
      if (m_table.GetFromTotalDataMap(id, result) && result->GetRefCount() == 2) only.insert(id);
    }
    return only;
  }

  void PurgeAndCompare() {
    const std::set<std::string> expected = OnlyInTable();
    EXPECT_EQ(m_table.UpdateTotalDataMap(), !expected.empty());
    for (auto it = m_ids.begin(); it != m_ids.end();) {
      QZRef<DW_Base> result;
      const bool present = m_table.GetFromTotalDataMap(*it, result);
      EXPECT_EQ(present, expected.count(*it) == 0) << *it;
      it = present ? std::next(it) : m_ids.erase(it);
    }
  }

  std::mt19937 m_random;
  DataUnitManager m_table;
  QZRef<QZParameterTree> m_tree{new QZParameterTree(tav::DUST_CANDIDATE_ROIS, &m_table)};
  std::vector<QZRef<ParameterNodeBase>> m_nodes;
  std::vector<QZRef<DW_Base>> m_handles;
  std::set<std::string> m_ids;
  int m_next = 0;
};

TEST(TablePurge, ErasesExactlyWhatTheSimpleWalkWouldOverRandomHolders) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    PurgeAgainstSimpleWalk(seed).Run(400);
  }
}

TEST(TablePurge, ReleasingOneImageLooksOnlyAtThatImagesResults) {
  HandTree t;
  const int tableBefore = Table()->GetDataMapSize();
  std::vector<std::string> images;
  for (int i = 0; i < 30; ++i) {
    cv::Mat page(32, 32, CV_8UC3, cv::Scalar(i, 2 * i, 3));
    images.push_back(t.AddImage(page));
    t.gray->GetData(images.back(), true, true);
  }
  const int inFlight = Table()->GetDataMapSize() - tableBefore;
  EXPECT_EQ(inFlight, 30 * 5);  // source, fitted, scaled, for regions, gray per image
  t.tree->RemoveSameSourceData(images[0], nullptr);
  EXPECT_EQ(Table()->GetDataMapSize() - tableBefore, inFlight - 5);
  for (size_t i = 1; i < images.size(); ++i) t.tree->RemoveSameSourceData(images[i], nullptr);
  EXPECT_EQ(Table()->GetDataMapSize(), tableBefore);
}

}  // namespace
}  // namespace testing
}  // namespace orvex
