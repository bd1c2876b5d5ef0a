// The node base: identity, results by data key, sharing through the table, and the
// node side of the interface.
#include <orvex/paramtree/ParameterNodeBase.h>

#include <orvex/datawrap/RegionWraps.h>
#include <orvex/foundation/NoThrow.h>
#include <orvex/hashing/HashId.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/QZParameterTree.h>

#include "hashing/JoinedHash.h"

#include <array>
#include <atomic>
#include <charconv>
#include <cstring>
#include <utility>

namespace orvex {

namespace {

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

typedef QZRef<DW_Base> (*CopyFunction)(const DW_Base*);

template <std::size_t... I>
constexpr std::array<CopyFunction, sizeof...(I)> CopyFunctions(std::index_sequence<I...>) {
  return {{&CopyAs<stages::WrapOf<stages::kFirstStage + static_cast<int>(I)>>...}};
}

// A distinct copy of a result, made by the copy constructor of its stage's wrap class.
QZRef<DW_Base> CopyWrap(const DW_Base* source) {
  static constexpr auto kCopies = CopyFunctions(std::make_index_sequence<stages::kLastStage - stages::kFirstStage + 1>{});
  const int stage = static_cast<int>(source->GetStageType());
  if (stage < stages::kFirstStage || stage > stages::kLastStage) return QZRef<DW_Base>();
  return kCopies[stage - stages::kFirstStage](source);
}

std::atomic<int> g_liveNodes{0};

}  // namespace

ParameterNodeBase::ParameterNodeBase(QZParameterTree* tree)
    : m_tree(tree),
      m_parent(nullptr),
      m_table(tree != nullptr ? tree->GetTable() : nullptr) {
  g_liveNodes.fetch_add(1, std::memory_order_relaxed);
}

int ParameterNodeBase::GetLiveCount() { return g_liveNodes.load(std::memory_order_relaxed); }

ParameterNodeBase::~ParameterNodeBase() {
  ExpectNoLibraryLockHeld("a parameter node is freed");
  g_liveNodes.fetch_sub(1, std::memory_order_relaxed);
  NodeResults results;
  {
    MutexLock lock(m_dataMutex);
    m_dataMap.Swap(results);
  }
  results.LetGoOfAll(m_table);  // after the lock, without allocating
}

void ParameterNodeBase::AddChildNode(ParameterNodeBase* child) { m_children.push_back(child); }

void ParameterNodeBase::ReserveChild() { m_children.MakeRoomForOneMore(); }

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
  // Every handle is declared before the lock, so that whatever it drops, also when an
  // allocation fails half-way, is freed after the lock.
  QZRef<DW_Base> result;
  QZRef<DW_Base> parentResult;
  QZRef<DW_Base> made;
  DataUnitManager::Leftovers leftovers;
  ChainPins pins;  // ancestors' results pinned while they are held
  MutexLock lock(m_dataMutex);
  if (const QZRef<DW_Base>* own = m_dataMap.Find(key)) {
    result = *own;
    CountRequest(RequestCounters::kOwn);
  } else {
    char buffer[kHashIdBufferSize];
    const bool shared = CalcDataHashId(key, buffer);
    const std::string_view dataHashId(buffer, shared ? std::strlen(buffer) : 0);
    // A result whose chain is broken (another tree let go of its parent) is not adopted:
    // this node makes its own, on its own chain, and keeps it outside the table.
    bool brokenChain = false;
    if (shared && m_table != nullptr && m_table->FindInTotalDataMap(dataHashId, result)) {
      if (result && result->GetStageType() == m_stageType && HoldAncestorsOf(key, *result, pins)) {
        CountRequest(RequestCounters::kAdopted);
      } else {
        brokenChain = result && result->GetStageType() == m_stageType;
        pins.Add(std::move(result));  // another stage's result under the id, or a broken chain
      }
    }
    bool created = false;
    if (!result && calc && ComputesResults() && m_parent != nullptr) {
      // The parent's result first, with this node's lock held (node locks go towards the
      // root); then the table is asked again and filled in one step, because another
      // tree's node may have made this result meanwhile.
      parentResult = m_parent->GetDataBase(key, true, true);
      if (parentResult) {
        const auto make = [&] {
          made = CalcData(key);
          if (made && m_table != nullptr) made->SetResultStore(m_table->GetResultStore());
          if (made && shared) made->SetDataHashID(buffer);
          if (made) made->LinkAsChildOf(parentResult.get());
          return made;
        };
        if (shared && m_table != nullptr && !brokenChain) {
          result = m_table->FindOrAdd(dataHashId, m_stageType, make, &created, leftovers);
          // Another tree's node made it meanwhile: it may stand on that tree's results.
          if (result && !created && !HoldAncestorsOf(key, *result, pins)) {
            pins.Add(std::move(result));
            brokenChain = true;
          }
        }
        if (!result && (brokenChain || !shared || m_table == nullptr)) {
          result = make();
          created = true;
        }
        if (result) CountRequest(created ? RequestCounters::kCreated : RequestCounters::kAdopted);
      }
    }
    if (result) KeepNewResult(key, result, created);
  }
  if (result && setRequired) SetRequiredData(key, result.get());
  return result;
}

void ParameterNodeBase::KeepResult(const std::string& key, const QZRef<DW_Base>& result) {
  m_dataMap.Insert(key, result);
}

void ParameterNodeBase::KeepNewResult(const std::string& key, const QZRef<DW_Base>& result, bool created) {
  try {
    KeepResult(key, result);
  } catch (...) {
    // The table took a new result for this node to hold: now that no node does, the next
    // purge may drop it.
    if (created && m_table != nullptr) m_table->NoteResultWithoutNodeHolder(result.get());
    throw;
  }
}

bool ParameterNodeBase::HoldAncestorsOf(const std::string& key, const DW_Base& result, ChainPins& pins) {
  const DW_Base* child = &result;
  for (ParameterNodeBase* node = m_parent; node != nullptr; node = node->m_parent) {
    // Whole-image nodes hold their results under the source image's id.
    const bool region = stages::IsRegionStage(static_cast<int>(node->m_stageType));
    QZRef<DW_Base> parent;
    const bool newlyHeld = node->HoldParentOf(region ? key : child->SourceHashIdText(), *child, &parent);
    if (!parent) return false;  // its parent is gone: the chain is broken
    child = parent.get();
    pins.Add(std::move(parent));
    if (!newlyHeld) return true;  // held already, and with it what it stands on
  }
  return true;
}

bool ParameterNodeBase::HoldParentOf(const std::string& key, const DW_Base& child, QZRef<DW_Base>* parent) {
  MutexLock lock(m_dataMutex);
  if (key.empty()) return false;
  *parent = child.GetParentPinned();
  if (!*parent) return false;
  const QZRef<DW_Base>* own = m_dataMap.Find(key);
  if ((own != nullptr && own->get() == parent->get()) || m_dataMap.HoldsForChain(**parent)) return false;
  // The parent is this node's own result for the key only when its id says so; a result
  // another tree's node made (other modes that found the same input) is held for the
  // chain alone, and this node still makes its own when asked.
  if (own == nullptr && IsOwnResultFor(key, **parent)) KeepResult(key, *parent);
  else m_dataMap.InsertChainHold(*parent);
  return true;
}

bool ParameterNodeBase::IsOwnResultFor(const std::string& key, const DW_Base& result) const {
  if (result.GetStageType() != m_stageType) return false;
  // Results handed in from outside are named by their key itself.
  if (!ComputesResults()) return result.GetDataHashID() == key;
  char id[kHashIdBufferSize];
  return CalcDataHashId(key, id) && result.GetDataHashID() == id;
}

QZRef<DW_Base> ParameterNodeBase::AddNonexistentData(const std::string& key, QZRef<DW_Base> data) {
  MutexLock lock(m_dataMutex);
  if (key.empty() || !data) return QZRef<DW_Base>();
  if (const QZRef<DW_Base>* own = m_dataMap.Find(key)) return *own;
  // Looking for an entry and entering `data` is one step, so two nodes never both enter theirs.
  QZRef<DW_Base> existing;
  if (m_table != nullptr && !m_table->AddToTotalDataMapIfAbsent(key, data, &existing)) return existing;
  KeepResult(key, data);
  return data;
}

bool ParameterNodeBase::ComputesResults() const { return false; }

QZRef<DW_Base> ParameterNodeBase::CalcData(const std::string&) { return QZRef<DW_Base>(); }

void ParameterNodeBase::SetRequiredData(const std::string&, DW_Base*) {}

void ParameterNodeBase::CountRequest(RequestCounters::Outcome outcome) const {
  if (m_table != nullptr) m_table->Requests().Count(m_stageType, outcome);
}

void ParameterNodeBase::RemoveSameSourceData(const std::string& sourceImageHashId) {
  DroppedResults dropped(m_table);  // released after the lock
  RemoveSameSourceData(sourceImageHashId, dropped);
}

void ParameterNodeBase::RemoveSameSourceData(const std::string& sourceImageHashId, DroppedResults& dropped) {
  if (sourceImageHashId.empty()) return;
  MutexLock lock(m_dataMutex);
  m_dataMap.TakeSource(sourceImageHashId, dropped);
}

int ParameterNodeBase::GetDataCount() const {
  MutexLock lock(m_dataMutex);
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
    // One reading of the list: its count and block together.
    const ParamNodeArray listed = m_children;
    children->SetCount(listed.GetCount());
    for (int i = 0; i < listed.GetCount(); ++i) children->SetParameterTreeNode(i, listed[i]);
    return 0;
  });
}

int ParameterNodeBase::GetDataUnits(const char* sourceImageHashId, tav::CDataUnitArray* units) const {
  return ReturnOrFail(-1, [&] {
    if (sourceImageHashId == nullptr || units == nullptr) return -1;
    std::vector<DW_Base*> found;
    {
      MutexLock lock(m_dataMutex);
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
    MutexLock lock(m_dataMutex);
    // Copies made within one second would share the clone id and replace each other;
    // every copy gets an id of its own instead (the clone id with a serial number of the
    // process), so each stays listed and alive however many are made.
    std::string id = cloneId;
    while (m_dataMap.Find(id) != nullptr || (m_table != nullptr && !m_table->AddToTotalDataMapIfAbsent(id, copy))) {
      id = HashOf(cloneId + "#" + std::to_string(g_copySerial.fetch_add(1, std::memory_order_relaxed)));
      if (id.empty()) return -1;
      copy->SetDataHashID(id);
    }
    KeepResult(id, copy);
    *created = copy.get();
    CountRequest(RequestCounters::kCreated);
    return 0;
  });
}

}  // namespace orvex
