// The node base, node relations and the parameter tree.
#include <orvex/paramtree/QZParameterTree.h>

#include <orvex/datawrap/RegionWraps.h>
#include <orvex/foundation/HashId.h>
#include <orvex/foundation/NoThrow.h>
#include <orvex/loader/QZParameterTreeAndDataPool.h>

#include "foundation/JoinedHash.h"
#include "paramtree/RequestCounters.h"

#include <atomic>
#include <charconv>
#include <cstring>

namespace orvex {

namespace requests {

std::atomic<uint64_t> g_counts[kStatisticsStageSlots][kOutcomeCount];

}  // namespace requests

namespace {

// Reserved stage numbers run up to this one; the purge walks them all.
constexpr int kLastPurgedStage = 28;
// Numbers the copies that CreateDataUnitAs names itself, process-wide.
std::atomic<uint64_t> g_copySerial{0};


std::string HashOf(const std::string& text) {
  return GenerateHashId(text.data(), static_cast<unsigned int>(text.size()));
}

template <class Wrap>
QZRef<DW_Base> CopyAs(const DW_Base* source) {
  const Wrap* typed = dynamic_cast<const Wrap*>(source);
  return typed != nullptr ? QZRef<DW_Base>(new Wrap(typed)) : QZRef<DW_Base>();
}

// A distinct copy of a result, made by the copy constructor of its stage's wrap class.
QZRef<DW_Base> CopyWrap(const DW_Base* source) {
  switch (source->GetStageType()) {
    case tav::DUST_SOURCE_IMAGE: return CopyAs<DW_SourceImage>(source);
    case tav::DUST_COLOUR_IMAGE_AFTER_SIZE_FITTING: return CopyAs<DW_ColourImageAfterSizeFitting>(source);
    case tav::DUST_COLOUR_IMAGE_AFTER_SCALING_DOWN: return CopyAs<DW_ColourImageAfterScalingDown>(source);
    case tav::DUST_COLOUR_IMAGE_FOR_ROI: return CopyAs<DW_ColourImageForROI>(source);
    case tav::DUST_GRAYSCALE_IMAGE_COLOUR_CONVERTED: return CopyAs<DW_GrayscaleImageColourConverted>(source);
    case tav::DUST_GRAYSCALE_IMAGE_TRANSFORMED: return CopyAs<DW_GrayscaleImageTransformed>(source);
    case tav::DUST_GRAYSCALE_IMAGE_FOR_ROI: return CopyAs<DW_GrayscaleImageForROI>(source);
    case tav::DUST_CANDIDATE_ROIS: return CopyAs<DW_CandidateROIs>(source);
    case tav::DUST_ROI_COLOUR_IMAGE: return CopyAs<DW_ROIColourImage>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_COLOUR_CONVERTED: return CopyAs<DW_ROIGrayscaleImageColourConverted>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_TRANSFORMED: return CopyAs<DW_ROIGrayscaleImageTransformed>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE: return CopyAs<DW_ROIGrayscaleImage>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_ROTATED: return CopyAs<DW_ROIGrayscaleImageRotated>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_PERSPECTIVE_CORRECTED:
      return CopyAs<DW_ROIGrayscaleImagePerspectiveCorrected>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_ENHANCED: return CopyAs<DW_ROIGrayscaleImageEnhanced>(source);
    case tav::DUST_ROI_GRAY_IMAGE_PROCESSED: return CopyAs<DW_ROIGaryImageProcessed>(source);
    case tav::DUST_ROI_BINARY_IMAGE: return CopyAs<DW_ROIBinaryImage>(source);
    case tav::DUST_ROI_TEXTURE_DETECTION_RESULT: return CopyAs<DW_TextureDetectionResult>(source);
    case tav::DUST_ROI_GRAYSCALE_IMAGE_FOR_STRUCTURIZING: return CopyAs<DW_ROIGrayscaleImageForStructurizing>(source);
    case tav::DUST_ROI_BINARY_IMAGE_FOR_TEXT_FILTERING: return CopyAs<DW_ROIBinaryImageForTextFiltering>(source);
    case tav::DUST_ROI_BINARY_IMAGE_FOR_STRUCTURIZING: return CopyAs<DW_ROIBinaryImageForStructurizing>(source);
    case tav::DUST_CONTOURS: return CopyAs<DW_Contours>(source);
    case tav::DUST_LINE_SEGMENTS: return CopyAs<DW_LineSegments>(source);
  }
  return QZRef<DW_Base>();
}

std::atomic<int> g_liveNodes{0};

}  // namespace

ParameterNodeBase::ParameterNodeBase(QZParameterTree* tree)
    : m_tree(tree),
      m_parent(nullptr),
      m_table(tree != nullptr ? tree->GetTable() : QZParameterTreeAndDataPool::GetInstance()->GetDataManager()) {
  g_liveNodes.fetch_add(1, std::memory_order_relaxed);
}

int ParameterNodeBase::GetLiveCount() { return g_liveNodes.load(std::memory_order_relaxed); }

ParameterNodeBase::~ParameterNodeBase() {
  g_liveNodes.fetch_sub(1, std::memory_order_relaxed);
  DroppedResults results(m_table);  // released after the lock
  std::lock_guard<std::mutex> lock(m_dataMutex);
  m_dataMap.TakeAll(results);
}

void ParameterNodeBase::AddChildNode(ParameterNodeBase* child) { m_children.push_back(child); }

void ParameterNodeBase::RemoveChildNode(ParameterNodeBase* child) { m_children.EraseLatest(child); }

void ParameterNodeBase::CommonFillAllHashId() {
  if (m_parent == nullptr || m_singleModeHash.empty()) return;
  char layer[kPrimitiveIdBufferSize];
  char global[kPrimitiveIdBufferSize];
  // A failed hash leaves the node without identity rather than with a suffix alone.
  const size_t layerLength = HashOfJoined(m_parent->m_layerHash, m_singleModeHash, layer);
  if (layerLength == 0) return;
  m_layerHash.assign(layer, layerLength);
  const size_t globalLength = HashOfJoined(m_parent->m_referenceHash, m_layerHash, global);
  if (globalLength == 0) {
    m_layerHash.clear();
    return;
  }
  m_referenceHash = m_parent->m_referenceHash;
  m_globalHash.reserve(globalLength + 4);
  m_globalHash.assign(global, globalLength).append(1, '+');
  AppendNumber(m_globalHash, static_cast<int>(m_stageType));
  PublishHashId();
}

bool ParameterNodeBase::CalcDataHashId(const std::string& key, char* out) const {
  if (key.empty() || m_globalHash.empty()) return false;
  char hash[kPrimitiveIdBufferSize];
  const size_t hashLength = HashOfJoined(key, m_globalHash, hash);
  if (hashLength == 0) return false;
  char suffix[16] = "-";
  const char* suffixEnd = std::to_chars(suffix + 1, suffix + sizeof suffix, static_cast<int>(m_stageType)).ptr;
  const size_t suffixLength = static_cast<size_t>(suffixEnd - suffix);
  if (hashLength + suffixLength > kHashIdBufferSize - 1) return false;
  std::memcpy(out, hash, hashLength);
  std::memcpy(out + hashLength, suffix, suffixLength);
  out[hashLength + suffixLength] = '\0';
  return true;
}

QZRef<DW_Base> ParameterNodeBase::GetDataBase(const std::string& key, bool calc, bool setRequired) {
  QZRef<DW_Base> displaced;  // a table entry of another stage this result replaces, released after the lock
  std::lock_guard<std::mutex> lock(m_dataMutex);
  QZRef<DW_Base> result;
  if (const QZRef<DW_Base>* own = m_dataMap.Find(key)) {
    result = *own;
    requests::Count(m_stageType, requests::kOwn);
  } else {
    char buffer[kHashIdBufferSize];
    const bool shared = CalcDataHashId(key, buffer);
    const std::string_view dataHashId(buffer, shared ? std::strlen(buffer) : 0);
    if (shared) {
      QZRef<DW_Base> found;
      if (m_table->GetFromTotalDataMap(dataHashId, found) && found && found->GetStageType() == m_stageType) {
        result = found;
        requests::Count(m_stageType, requests::kAdopted);
      }
    }
    if (!result && calc && ComputesResults() && m_parent != nullptr) {
      // The parent's result first, with this node's lock held (node locks go towards the
      // root); then the table is asked again and filled in one step, because another
      // tree's node may have made this result meanwhile.
      QZRef<DW_Base> parentResult = m_parent->GetDataBase(key, true, true);
      if (parentResult) {
        bool created = true;
        if (shared) {
          result = m_table->FindOrAdd(dataHashId, m_stageType, [&] {
            QZRef<DW_Base> made = CalcData(key, parentResult.get());
            if (made) {
              made->SetDataHashID(buffer);
              made->LinkAsChildOf(parentResult.get());
            }
            return made;
          }, &created, &displaced);
        } else {
          result = CalcData(key, parentResult.get());
          if (result) result->LinkAsChildOf(parentResult.get());
        }
        if (result) requests::Count(m_stageType, created ? requests::kCreated : requests::kAdopted);
      }
    }
    if (result) StoreResult(key, result);
  }
  if (result && setRequired) SetRequiredData(key, result.get());
  return result;
}

void ParameterNodeBase::StoreResult(const std::string& key, const QZRef<DW_Base>& result) {
  m_dataMap.Insert(key, result);
}

QZRef<DW_Base> ParameterNodeBase::AddNonexistentData(const std::string& key, QZRef<DW_Base> data) {
  std::lock_guard<std::mutex> lock(m_dataMutex);
  if (key.empty() || !data) return QZRef<DW_Base>();
  if (const QZRef<DW_Base>* own = m_dataMap.Find(key)) return *own;
  // Looking for an entry and entering `data` is one step, so two nodes never both enter theirs.
  QZRef<DW_Base> existing;
  if (!m_table->AddToTotalDataMapIfAbsent(key, data, &existing)) return existing;
  StoreResult(key, data);
  return data;
}

bool ParameterNodeBase::ComputesResults() const { return false; }

QZRef<DW_Base> ParameterNodeBase::CalcData(const std::string&, DW_Base*) { return QZRef<DW_Base>(); }

void ParameterNodeBase::SetRequiredData(const std::string&, DW_Base*) {}

void ParameterNodeBase::RemoveSameSourceData(const std::string& sourceImageHashId) {
  DroppedResults dropped(m_table);  // released after the lock
  RemoveSameSourceData(sourceImageHashId, dropped);
}

void ParameterNodeBase::RemoveSameSourceData(const std::string& sourceImageHashId, DroppedResults& dropped) {
  if (sourceImageHashId.empty()) return;
  std::lock_guard<std::mutex> lock(m_dataMutex);
  m_dataMap.TakeSource(sourceImageHashId, dropped);
}

int ParameterNodeBase::GetDataCount() const {
  std::lock_guard<std::mutex> lock(m_dataMutex);
  return m_dataMap.Size();
}

int ParameterNodeBase::GetParentNode(tav::CParameterTreeNode** parent) const {
  return ReturnOrFail(-1, [&] {
    if (parent == nullptr) return -1;
    *parent = m_parent;
    return 0;
  });
}

int ParameterNodeBase::GetChildNodes(tav::CParameterTreeNodeArray* children) const {
  return ReturnOrFail(-1, [&] {
    if (children == nullptr) return -1;
    children->SetCount(m_children.GetCount());
    for (int i = 0; i < m_children.GetCount(); ++i) children->SetParameterTreeNode(i, m_children[i]);
    return 0;
  });
}

int ParameterNodeBase::GetDataUnits(const char* sourceImageHashId, tav::CDataUnitArray* units) const {
  return ReturnOrFail(-1, [&] {
    if (sourceImageHashId == nullptr || units == nullptr) return -1;
    std::vector<DW_Base*> found;
    {
      std::lock_guard<std::mutex> lock(m_dataMutex);
      found = m_dataMap.ResultsOfSource(sourceImageHashId);
    }
    units->SetCount(static_cast<int>(found.size()));
    for (size_t i = 0; i < found.size(); ++i) units->SetDataUnit(static_cast<int>(i), found[i]);
    return 0;
  });
}

int ParameterNodeBase::CreateDataUnitAs(const tav::CDataUnit* model, tav::CDataUnit** created) {
  return ReturnOrFail(-1, [&] {
    if (model == nullptr || created == nullptr) return -1;
    if (model->GetStageType() != m_stageType) return -1;
    const DW_Base* source = dynamic_cast<const DW_Base*>(model);
    if (source == nullptr) return -1;
    // Made before the lock, so that a copy that is not kept is freed after it.
    QZRef<DW_Base> copy = CopyWrap(source);
    if (!copy) return -1;
    const std::string cloneId = copy->GetDataHashID();
    if (cloneId.empty()) return -1;
    std::lock_guard<std::mutex> lock(m_dataMutex);
    // Copies made within one second would share the clone id and replace each other;
    // every copy gets an id of its own instead (the clone id with a serial number of the
    // process), so each stays listed and alive however many are made.
    std::string id = cloneId;
    while (m_dataMap.Find(id) != nullptr || !m_table->AddToTotalDataMapIfAbsent(id, copy)) {
      id = HashOf(cloneId + "#" + std::to_string(g_copySerial.fetch_add(1, std::memory_order_relaxed)));
      if (id.empty()) return -1;
      copy->SetDataHashID(id);
    }
    StoreResult(id, copy);
    *created = copy.get();
    requests::Count(m_stageType, requests::kCreated);
    return 0;
  });
}

ParamNodeRelation::ParamNodeRelation(ParameterNodeBase* node) : m_node(node) {}

ParamNodeRelation::~ParamNodeRelation() {
  m_node = nullptr;
  m_childNodes.clear();
}

std::vector<ParameterNodeBase*>& ParamNodeRelation::GetChildNodes(int stage) { return m_childNodes[stage]; }

QZParameterTree::QZParameterTree(tav::DataUnitStageType endNodeType, DataUnitManager* table)
    : m_table(table != nullptr ? table : QZParameterTreeAndDataPool::GetInstance()->GetDataManager()),
      m_saveUnitType(0),
      m_endNodeType(endNodeType),
      m_rootNode(nullptr) {}

QZParameterTree::~QZParameterTree() {
  // The nodes go last taken first: children before their parents, in an order close to
  // the one they were made in.
  m_nodesById.clear();
  while (!m_ownedNodes.empty()) m_ownedNodes.pop_back();
  for (std::vector<ParameterNodeBase*>& stage : m_nodesByStage) stage.clear();
  m_binNodeGroupsOfRegion.clear();
  m_userCustomNodes.clear();
  m_stageLists.fill(nullptr);
  m_nodesMap.clear();
  m_regionIdsBySource.clear();
}

bool QZParameterTree::PushBackNode(const std::string& id, QZRef<ParameterNodeBase> node) {
  if (!node) return false;
  const int stage = static_cast<int>(node->GetDataUnitStageType());
  if (id.empty() || m_nodesById.count(id) != 0 || stage < 0 || stage >= kStageSlots) {
    // The node's constructor entered it in its parent's child list; it must not stay
    // there once the caller lets it go.
    if (node->GetParent() != nullptr) node->GetParent()->RemoveChildNode(node.get());
    return false;
  }
  // The node's own id text is the key whenever it is the id (as the generation offers it).
  const std::string_view key = id == node->GetGlobalHash() ? std::string_view(node->GetGlobalHash())
                                                            : std::string_view(m_otherIds.emplace_back(id));
  m_nodesById.emplace(key, node.get());
  m_nodesByStage[stage].push_back(node.get());
  m_ownedNodes.push_back(std::move(node));
  return true;
}

void QZParameterTree::ReserveNodes(size_t more) {
  m_nodesById.reserve(m_nodesById.size() + more);
  m_ownedNodes.reserve(m_ownedNodes.size() + more);
}

QZRef<ParameterNodeBase> QZParameterTree::FindTreeNodeFromMapByID(const std::string& id) const {
  auto found = m_nodesById.find(id);
  return found != m_nodesById.end() ? QZRef<ParameterNodeBase>(found->second) : QZRef<ParameterNodeBase>();
}

std::vector<ParameterNodeBase*> QZParameterTree::GetAllNodesOfStage(tav::DataUnitStageType stage) const {
  const int slot = static_cast<int>(stage);
  return slot >= 0 && slot < kStageSlots ? m_nodesByStage[slot] : std::vector<ParameterNodeBase*>();
}

ParamNodeArray& QZParameterTree::GetNodesFromMap(tav::DataUnitStageType stage) {
  const int slot = static_cast<int>(stage);
  if (slot < 0 || slot >= kStageSlots) return m_nodesMap[stage];
  if (m_stageLists[slot] == nullptr) m_stageLists[slot] = &m_nodesMap[stage];
  return *m_stageLists[slot];
}

const ParamNodeArray& QZParameterTree::FindNodesOfStage(tav::DataUnitStageType stage) const {
  const auto found = m_nodesMap.find(stage);
  return found != m_nodesMap.end() ? found->second : m_noNodes;
}

ParameterNodeBase* QZParameterTree::GetUserCustomNode(tav::DataUnitStageType stage) const {
  auto found = m_userCustomNodes.find(stage);
  return found != m_userCustomNodes.end() ? found->second : nullptr;
}

void QZParameterTree::SetUserCustomNode(tav::DataUnitStageType stage, ParameterNodeBase* node) {
  m_userCustomNodes[stage] = node;
}

std::vector<ParamNodeGroup>& QZParameterTree::GetBinNodeGroupsOfRegion(const std::string& regionNodeId) {
  return m_binNodeGroupsOfRegion[regionNodeId];
}

void QZParameterTree::AddRegionId(const std::string& sourceImageHashId, const std::string& regionId) {
  std::lock_guard<std::mutex> lock(m_regionIdsMutex);
  m_regionIdsBySource[sourceImageHashId].push_back(regionId);
}

std::vector<std::string> QZParameterTree::GetRegionIds(const std::string& sourceImageHashId) const {
  std::lock_guard<std::mutex> lock(m_regionIdsMutex);
  auto found = m_regionIdsBySource.find(sourceImageHashId);
  return found != m_regionIdsBySource.end() ? found->second : std::vector<std::string>();
}

int QZParameterTree::GetRegionIdSourceCount() const {
  std::lock_guard<std::mutex> lock(m_regionIdsMutex);
  return static_cast<int>(m_regionIdsBySource.size());
}

void QZParameterTree::DropSourceResults(const std::string& sourceImageHashId, const StageTypeCounter* counter,
                                        DroppedResults& dropped) {
  for (int stage = 1; stage <= kLastPurgedStage; ++stage) {
    const bool keep = counter != nullptr && counter->IsTypeNeedSave(static_cast<tav::DataUnitStageType>(stage));
    if (keep) continue;
    for (ParameterNodeBase* node : m_nodesByStage[stage]) node->RemoveSameSourceData(sourceImageHashId, dropped);
    if (stage == tav::DUST_ROI_COLOUR_IMAGE) {
      // The image's regions are gone from this tree with their results.
      std::lock_guard<std::mutex> lock(m_regionIdsMutex);
      m_regionIdsBySource.erase(sourceImageHashId);
    }
  }
}

void QZParameterTree::RemoveSameSourceData(const std::string& sourceImageHashId, const StageTypeCounter* counter) {
  {
    DroppedResults dropped(m_table);
    DropSourceResults(sourceImageHashId, counter, dropped);
  }
  m_table->UpdateTotalDataMapUntilSettled();
}

}  // namespace orvex
