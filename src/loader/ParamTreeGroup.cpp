// A tree group: the host's entry point for source images, regions and releases.
#include <orvex/loader/ParamTreeGroup.h>

#include <orvex/foundation/NoThrow.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>
#include <orvex/hashing/HashId.h>
#include <orvex/paramtree/StageNodes.h>

namespace orvex {

ParamTreeGroup::ParamTreeGroup() : m_ownCounters(new SourceStageCounters), m_counters(m_ownCounters.get()) {}

ParamTreeGroup::ParamTreeGroup(QZRef<QZParameterTree> tree)
    : m_tree(std::move(tree)),
      m_ownCounters(m_tree ? nullptr : new SourceStageCounters),
      m_counters(m_tree ? &m_tree->GetSourceCounters() : m_ownCounters.get()) {}

ParamTreeGroup::~ParamTreeGroup() {
  ExpectNoLibraryLockHeld("a tree group is freed");
  m_counters = nullptr;
  m_tree.reset();
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
    // The table the tree's results are shared through; without a tree, the pool's. A
    // tree without table shares nothing, so no id is found in it.
    DataUnitManager* table = m_tree ? m_tree->GetTable() : QZParameterTreeAndDataPool::GetInstance()->GetDataManager();
    QZRef<DW_Base> found;
    if (table != nullptr && table->FindInTotalDataMap(dataHashId, found)) *unit = found.get();
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
      if (list[i]->GetDataUnits(sourceImageHashId, &nodeUnits) != 0) return -1;
      for (int j = 0; j < nodeUnits.GetCount(); ++j) collected.push_back(const_cast<tav::CDataUnit*>(nodeUnits.GetDataUnit(j)));
    }
    units->SetCount(static_cast<int>(collected.size()));
    for (size_t i = 0; i < collected.size(); ++i) units->SetDataUnit(static_cast<int>(i), collected[i]);
    return 0;
  });
}

ParamNodeArray& ParamTreeGroup::GetRegionNodes() {
  if (m_tree) {
    std::map<tav::DataUnitStageType, ParamNodeArray>& lists = m_tree->GetNodesMap();
    const auto found = lists.find(tav::DUST_CANDIDATE_ROIS);
    if (found != lists.end()) return found->second;
  }
  return m_noRegionNodes;
}

const ParamNodeArray& ParamTreeGroup::GetRegionNodes() const {
  if (!m_tree) return m_noRegionNodes;
  const ParamNodeArray& nodes = m_tree->FindNodesOfStage(tav::DUST_CANDIDATE_ROIS);
  return nodes.GetCount() > 0 ? nodes : m_noRegionNodes;
}

bool ParamTreeGroup::AddSourceData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                   const StageRequestMap& savedTypes) {
  return AddToGroups({this}, image, false, sourceImageArg1, sourceImageArg2, hashOut, savedTypes);
}

bool ParamTreeGroup::AddSourceData(QZRef<QZMatrix>&& image, int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                   const StageRequestMap& savedTypes) {
  QZRef<QZMatrix> handedOver(std::move(image));
  return AddToGroups({this}, handedOver, true, sourceImageArg1, sourceImageArg2, hashOut, savedTypes);
}

bool ParamTreeGroup::AddSourceDataToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>& image,
                                           int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                           const StageRequestMap& savedTypes) {
  return AddToGroups(groups, image, false, sourceImageArg1, sourceImageArg2, hashOut, savedTypes);
}

bool ParamTreeGroup::AddSourceDataToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>&& image,
                                           int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                           const StageRequestMap& savedTypes) {
  QZRef<QZMatrix> handedOver(std::move(image));
  return AddToGroups(groups, handedOver, true, sourceImageArg1, sourceImageArg2, hashOut, savedTypes);
}

bool ParamTreeGroup::AddToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>& image, bool handedOver,
                                 int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                 const StageRequestMap& savedTypes) {
  for (ParamTreeGroup* group : groups) {
    if (group == nullptr || !group->m_tree || group->m_tree->GetRootNode() == nullptr) return false;
  }
  const std::string id = image ? SourceImageHashId(*image) : std::string();
  if (id.empty()) return false;
  // The source result whose pixels were compared with the image (or made from it) already.
  const DW_Base* checked = nullptr;
  // Undoes the groups before `added` when one refuses the image or runs out of memory.
  const auto undo = [&](size_t added) {
    for (size_t undone = 0; undone < added; ++undone) {
      groups[undone]->MinusSavedTypeCount(id, savedTypes);
      groups[undone]->RemoveSameSourceData(id);
    }
  };
  for (size_t added = 0; added < groups.size(); ++added) {
    bool accepted = false;
    try {
      accepted = groups[added]->AddHashedSourceData(image, handedOver, id, sourceImageArg1, sourceImageArg2, savedTypes,
                                                    &checked);
    } catch (...) {
      // The failing group lowered its counters again; what it entered goes as in a release.
      undo(added);
      groups[added]->RemoveSameSourceData(id);
      throw;
    }
    if (accepted) continue;
    undo(added);
    return false;
  }
  if (hashOut != nullptr) std::copy(id.c_str(), id.c_str() + id.size() + 1, hashOut);
  return true;
}

bool ParamTreeGroup::AddKnownImageToGroups(const std::vector<ParamTreeGroup*>& groups, const std::string& id,
                                           QZRef<SourcePixels> pixels, int sourceImageArg1, int sourceImageArg2,
                                           const StageRequestMap& savedTypes) {
  for (ParamTreeGroup* group : groups) {
    if (group == nullptr || !group->m_tree || group->m_tree->GetRootNode() == nullptr) return false;
  }
  // Undoes the groups up to `count` (whose counters went up) when one refuses the image.
  const auto undo = [&](size_t count) {
    for (size_t undone = 0; undone < count; ++undone) groups[undone]->MinusSavedTypeCount(id, savedTypes);
    for (size_t undone = 0; undone < count; ++undone) groups[undone]->RemoveSameSourceData(id);
  };
  for (size_t added = 0; added < groups.size(); ++added) {
    auto* root = static_cast<PN_SourceImage*>(const_cast<ParameterNodeBase*>(groups[added]->m_tree->GetRootNode()));
    groups[added]->PlusSavedTypeCount(id, savedTypes);
    bool accepted = false;
    try {
      accepted = root->AddKnownImage(id, pixels, sourceImageArg1, sourceImageArg2);
    } catch (...) {
      undo(added + 1);
      throw;
    }
    if (accepted) continue;
    undo(added + 1);
    return false;
  }
  return true;
}

bool ParamTreeGroup::AddHashedSourceData(QZRef<QZMatrix>& image, bool handedOver, const std::string& id,
                                         int sourceImageArg1, int sourceImageArg2, const StageRequestMap& savedTypes,
                                         const DW_Base** checked) {
  // The root of every generated tree is its source node.
  auto* root = static_cast<PN_SourceImage*>(const_cast<ParameterNodeBase*>(m_tree->GetRootNode()));
  // The counters go up before the image is added: a release of the same image running
  // meanwhile then keeps what this requester needs, or drops it before it is added again.
  PlusSavedTypeCount(id, savedTypes);
  bool added = false;
  try {
    added = root->AddHashedData(image, id, sourceImageArg1, sourceImageArg2, handedOver, checked);
  } catch (...) {
    MinusSavedTypeCount(id, savedTypes);
    throw;
  }
  if (!added) MinusSavedTypeCount(id, savedTypes);
  return added;
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
  m_counters->Plus(sourceHash, savedTypes);
}

void ParamTreeGroup::MinusSavedTypeCount(const std::string& sourceHash, const StageRequestMap& savedTypes) {
  m_counters->Minus(sourceHash, savedTypes);
}

bool ParamTreeGroup::HasSavedTypeCounter(const std::string& sourceHash) const { return m_counters->Has(sourceHash); }

void ParamTreeGroup::RemoveSameSourceData(const std::string& sourceHash) {
  if (!m_tree) return;
  DataUnitManager* table = m_tree->GetTable();
  {
    DroppedResults dropped(table);  // released after the counters' lock
    // The nodes drop their results under the counters' lock, so no requester of any
    // group over the tree raises its counters for the image between the reading of the
    // counter and the drop.
    m_counters->WithCounterOf(sourceHash, [&](const StageTypeCounter* counter) {
      m_tree->DropSourceResults(sourceHash, counter, dropped);
    });
  }
  if (table != nullptr) table->UpdateTotalDataMapUntilSettled();
}

bool ParamTreeGroup::TransIntToDataUnitStageType(int value, tav::DataUnitStageType& stage) {
  stage = static_cast<tav::DataUnitStageType>(value);
  return true;
}

}  // namespace orvex
