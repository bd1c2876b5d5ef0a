// A tree group: the host's entry point for source images, regions and releases.
#include <orvex/loader/ParamTreeGroup.h>

#include <orvex/foundation/NoThrow.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>
#include <orvex/paramtree/StageNodes.h>

namespace orvex {

ParamTreeGroup::ParamTreeGroup() = default;

ParamTreeGroup::ParamTreeGroup(QZRef<QZParameterTree> tree) : m_tree(std::move(tree)) {}

ParamTreeGroup::~ParamTreeGroup() {
  m_tree.reset();
  m_savedTypeCounters.clear();
}

int ParamTreeGroup::GetRootNode(tav::CParameterTreeNode** root) const {
  return ReturnOrFail(-1, [&] {
    if (root == nullptr || !m_tree) return -1;
    *root = const_cast<ParameterNodeBase*>(m_tree->GetRootNode());
    return 0;
  });
}

int ParamTreeGroup::GetNode(const char* nodeHashId, tav::CParameterTreeNode** node) const {
  return ReturnOrFail(-1, [&] {
    if (nodeHashId == nullptr || node == nullptr || *nodeHashId == '\0' || !m_tree) return -1;
    if (QZRef<ParameterNodeBase> found = m_tree->FindTreeNodeFromMapByID(nodeHashId)) *node = found.get();
    return 0;
  });
}

int ParamTreeGroup::GetDataUnit(const char* dataHashId, tav::CDataUnit** unit) const {
  return ReturnOrFail(-1, [&] {
    if (dataHashId == nullptr || unit == nullptr || *dataHashId == '\0') return -1;
    // The table the tree's results are shared through; without a tree, the pool's.
    DataUnitManager* table = m_tree ? m_tree->GetTable() : QZParameterTreeAndDataPool::GetInstance()->GetDataManager();
    QZRef<DW_Base> found;
    if (table->GetFromTotalDataMap(dataHashId, found)) *unit = found.get();
    return 0;
  });
}

int ParamTreeGroup::GetNodes(tav::DataUnitStageType stage, tav::CParameterTreeNodeArray* nodes) const {
  return ReturnOrFail(-1, [&] {
    if (nodes == nullptr || !m_tree) return -1;
    const ParamNodeArray& list = m_tree->FindNodesOfStage(stage);
    nodes->SetCount(list.GetCount());
    for (int i = 0; i < list.GetCount(); ++i) nodes->SetParameterTreeNode(i, list[i]);
    return 0;
  });
}

int ParamTreeGroup::GetDataUnits(tav::DataUnitStageType stage, const char* sourceImageHashId,
                                 tav::CDataUnitArray* units) const {
  return ReturnOrFail(-1, [&] {
    if (sourceImageHashId == nullptr || units == nullptr || !m_tree) return -1;
    const ParamNodeArray& list = m_tree->FindNodesOfStage(stage);
    std::vector<tav::CDataUnit*> collected;
    for (int i = 0; i < list.GetCount(); ++i) {
      tav::CDataUnitArray nodeUnits;
      list[i]->GetDataUnits(sourceImageHashId, &nodeUnits);
      for (int j = 0; j < nodeUnits.GetCount(); ++j) collected.push_back(const_cast<tav::CDataUnit*>(nodeUnits.GetDataUnit(j)));
    }
    units->SetCount(static_cast<int>(collected.size()));
    for (size_t i = 0; i < collected.size(); ++i) units->SetDataUnit(static_cast<int>(i), collected[i]);
    return 0;
  });
}

const ParamNodeArray& ParamTreeGroup::GetRegionNodes() const {
  if (!m_tree) return m_noRegionNodes;
  return m_tree->FindNodesOfStage(tav::DUST_CANDIDATE_ROIS);
}

bool ParamTreeGroup::AddSourceData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                   const StageRequestMap& savedTypes) {
  return AddSourceDataToGroups({this}, image, sourceImageArg1, sourceImageArg2, hashOut, savedTypes);
}

bool ParamTreeGroup::AddSourceDataToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>& image,
                                           int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                           const StageRequestMap& savedTypes) {
  for (ParamTreeGroup* group : groups) {
    if (group == nullptr || !group->m_tree || group->m_tree->GetRootNode() == nullptr) return false;
  }
  const std::string id = PN_SourceImage::HashIdOfImage(image);
  if (id.empty()) return false;
  for (size_t added = 0; added < groups.size(); ++added) {
    if (groups[added]->AddHashedSourceData(image, id, sourceImageArg1, sourceImageArg2, savedTypes)) continue;
    for (size_t undone = 0; undone < added; ++undone) {
      groups[undone]->MinusSavedTypeCount(id, savedTypes);
      groups[undone]->RemoveSameSourceData(id);
    }
    return false;
  }
  if (hashOut != nullptr) std::copy(id.c_str(), id.c_str() + id.size() + 1, hashOut);
  return true;
}

bool ParamTreeGroup::AddHashedSourceData(QZRef<QZMatrix>& image, const std::string& id, int sourceImageArg1,
                                         int sourceImageArg2, const StageRequestMap& savedTypes) {
  // The root of every generated tree is its source node.
  auto* root = static_cast<PN_SourceImage*>(const_cast<ParameterNodeBase*>(m_tree->GetRootNode()));
  // The counters go up before the image is added: a release of the same image running
  // meanwhile then keeps what this requester needs, or drops it before it is added again.
  PlusSavedTypeCount(id, savedTypes);
  if (root->AddHashedData(image, id, sourceImageArg1, sourceImageArg2)) return true;
  MinusSavedTypeCount(id, savedTypes);
  return false;
}

std::vector<std::string> ParamTreeGroup::AddCandidateRegions(const std::string& sourceHash) {
  std::vector<std::string> regionIds;
  const ParamNodeArray& regionNodes = GetRegionNodes();
  for (int i = 0; i < regionNodes.GetCount(); ++i) {
    auto* candidatesNode = static_cast<PN_CandidateROIs*>(regionNodes[i]);
    QZRef<DW_CandidateROIs> candidates = candidatesNode->GetData(sourceHash, true, true);
    DP_DetectROIs* detection = candidates ? candidates->GetData(true) : nullptr;
    QZRef<QZQuadList> quads = detection != nullptr ? detection->GetPrimaryData(false) : QZRef<QZQuadList>();
    if (!quads) continue;
    const ParamNodeArray& children = candidatesNode->GetChildren();
    for (int c = 0; c < children.GetCount(); ++c) {
      if (children[c]->GetDataUnitStageType() != tav::DUST_ROI_COLOUR_IMAGE) continue;
      auto* regionNode = static_cast<PN_ROIColourImage*>(children[c]);
      for (const QZ_Quad& quad : quads->quads) {
        char id[kHashIdBufferSize];
        if (regionNode->AddData(candidates, quad, id)) regionIds.push_back(id);
      }
    }
  }
  return regionIds;
}

void ParamTreeGroup::PlusSavedTypeCount(const std::string& sourceHash, const StageRequestMap& savedTypes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (savedTypes.empty()) return;
  m_savedTypeCounters[sourceHash].UpdateCounter(savedTypes);
}

void ParamTreeGroup::MinusSavedTypeCount(const std::string& sourceHash, const StageRequestMap& savedTypes) {
  std::lock_guard<std::mutex> lock(m_mutex);
  auto found = m_savedTypeCounters.find(sourceHash);
  if (found == m_savedTypeCounters.end()) return;
  found->second.MinusCounter(savedTypes);
  if (found->second.IsEmpty()) m_savedTypeCounters.erase(found);
}

bool ParamTreeGroup::HasSavedTypeCounter(const std::string& sourceHash) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_savedTypeCounters.count(sourceHash) != 0;
}

void ParamTreeGroup::RemoveSameSourceData(const std::string& sourceHash) {
  if (!m_tree) return;
  {
    DroppedResults dropped(m_tree->GetTable());  // released after the group's lock
    // The nodes drop their results under the group's lock, so no requester of this group
    // raises its counters for the image between the reading of the counter and the drop.
    std::lock_guard<std::mutex> lock(m_mutex);
    auto found = m_savedTypeCounters.find(sourceHash);
    m_tree->DropSourceResults(sourceHash, found != m_savedTypeCounters.end() ? &found->second : nullptr, dropped);
  }
  m_tree->GetTable()->UpdateTotalDataMapUntilSettled();
}

bool ParamTreeGroup::TransIntToDataUnitStageType(int value, tav::DataUnitStageType& stage) {
  stage = static_cast<tav::DataUnitStageType>(value);
  return true;
}

}  // namespace orvex
