// The data-wrap base: identity, links to parent, children and clones, navigation and transform.
#include <orvex/datawrap/DW_Base.h>

#include <orvex/hashing/HashId.h>
#include <orvex/foundation/NoThrow.h>
#include <orvex/improc/QZLog.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <ctime>

namespace orvex {

Mutex DW_Base::s_linkMutex;

ResultStore::~ResultStore() = default;

namespace {

std::atomic<int> g_liveWraps{0};

// A store that throws is said once: it is the host's, and the library goes on without it.
void NoteStoreFailure(const char* operation) noexcept {
  static std::atomic<bool> said{false};
  if (said.exchange(true)) return;
  QZLog::m_instance.WriteMessage(1, operation);
}

}  // namespace

DW_Base::DW_Base() : parentData(nullptr), isClone(false), requiredDataAvailable(false) {
  InitTransformMatrix();
  g_liveWraps.fetch_add(1, std::memory_order_relaxed);
}

bool DW_Base::LoadStoredBytes(const StoreKey& key, std::vector<unsigned char>* payload) const {
  try {
    return resultStore->Load(key, payload);
  } catch (...) {
    NoteStoreFailure("a result store failed to load a result; taken as a miss");
    return false;
  }
}

void DW_Base::SaveStoredBytes(const StoreKey& key, const std::vector<unsigned char>& payload) const {
  try {
    resultStore->Save(key, payload.data(), payload.size());
  } catch (...) {
    NoteStoreFailure("a result store failed to save a result; the result stands, unsaved");
  }
}

void DW_Base::RefuseStoredBytes(const StoreKey& key) const {
  try {
    resultStore->Refused(key);
  } catch (...) {
    NoteStoreFailure("a result store failed to drop an entry it gave; the result is computed again");
  }
}

void DW_Base::KeepBufferNearItsUse(std::vector<unsigned char>& buffer) noexcept {
  constexpr std::size_t kAlwaysKept = std::size_t(1) << 20;
  if (buffer.capacity() > kAlwaysKept && buffer.capacity() / 4 > buffer.size()) std::vector<unsigned char>().swap(buffer);
}

int DW_Base::GetLiveCount() { return g_liveWraps.load(std::memory_order_relaxed); }

DW_Base::DW_Base(const DW_Base* futureParent) : DW_Base() {
  if (futureParent != nullptr) CloneSourceHashID(futureParent);
}

DW_Base::~DW_Base() {
  ExpectNoLibraryLockHeld("a result is freed");
  g_liveWraps.fetch_sub(1, std::memory_order_relaxed);
  MutexLock lock(s_linkMutex);
  for (int i = 0; i < childData.GetCount(); ++i) childData[i]->parentData = nullptr;
  for (int i = 0; i < cloneData.GetCount(); ++i) cloneData[i]->parentData = nullptr;
  if (parentData != nullptr) {
    if (isClone) parentData->cloneData.erase(this);
    else parentData->childData.erase(this);
  }
}

void DW_Base::InitTransformMatrix() {
  for (float& element : m_transform) element = 0.0f;
  m_transform[0] = m_transform[4] = m_transform[8] = 1.0f;
}

void DW_Base::SetDataHashID(const std::string& id) {
  MutexLock lock(s_linkMutex);
  hashId = id;
  m_hashId = hashId.c_str();
}

std::string DW_Base::GetDataHashID() const {
  MutexLock lock(s_linkMutex);
  return hashId;
}

void DW_Base::SetSourceHashID(const std::string& id) {
  MutexLock lock(s_linkMutex);
  sourceImageHashId = id;
  m_sourceImageHashId = sourceImageHashId.c_str();
}

std::string DW_Base::GetSourceHashID() const {
  MutexLock lock(s_linkMutex);
  return sourceImageHashId;
}

void DW_Base::CloneSourceHashID(const DW_Base* other) { SetSourceHashID(other->GetSourceHashID()); }

void DW_Base::SetRequiredDataAvailableFlag(bool available) {
  MutexLock lock(dataMutex);
  requiredDataAvailable = available;
}

bool DW_Base::IsRequiredDataAvailable() const {
  MutexLock lock(dataMutex);
  return requiredDataAvailable;
}

void DW_Base::AddChildData(DW_Base* child) {
  MutexLock lock(s_linkMutex);
  childData.push_back(child);
}

void DW_Base::RemoveChildData(DW_Base* child) {
  MutexLock lock(s_linkMutex);
  childData.erase(child);
}

void DW_Base::RemoveParentData() {
  MutexLock lock(s_linkMutex);
  parentData = nullptr;
}

void DW_Base::LinkToParent(DW_Base* parent) {
  if (parent == nullptr) return;
  MutexLock lock(s_linkMutex);
  // In the parent's list first: a link the parent does not know of could dangle.
  parent->childData.push_back(this);
  parentData = parent;
}

void DW_Base::LinkAsChildOf(DW_Base* parent) {
  if (parent == nullptr) return;
  {
    MutexLock lock(s_linkMutex);
    if (parentData == parent) return;
  }
  CloneSourceHashID(parent);
  LinkToParent(parent);
}

bool DW_Base::HasParent() const {
  MutexLock lock(s_linkMutex);
  return parentData != nullptr;
}

void DW_Base::Clone(const DW_Base* source) {
  m_stageType = source->m_stageType;
  m_mediaType = source->m_mediaType;
  CloneSourceHashID(source);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%ld", static_cast<long>(std::time(nullptr)));
  const std::string seed = source->GetDataHashID() + seconds;
  SetDataHashID(GenerateHashId(seed.data(), static_cast<unsigned int>(seed.size())));
  // The clone points at the source's parent without being its child; the parent keeps it
  // in a list of its own so that its destruction leaves the clone without a parent.
  MutexLock lock(s_linkMutex);
  if (source->parentData != nullptr) source->parentData->cloneData.push_back(this);
  parentData = source->parentData;
  isClone = parentData != nullptr;
}

QZRef<DW_Base> DW_Base::GetParentPinned() const {
  MutexLock lock(s_linkMutex);
  return QZRef<DW_Base>::TryPin(parentData);
}

std::vector<QZRef<DW_Base>> DW_Base::GetChildrenPinned() const {
  std::vector<QZRef<DW_Base>> pinned;
  {
    MutexLock lock(s_linkMutex);
    pinned.reserve(childData.GetCount());
    // A child still being built (no count yet) or being destroyed cannot be pinned.
    for (int i = 0; i < childData.GetCount(); ++i) {
      if (QZRef<DW_Base> child = QZRef<DW_Base>::TryPin(childData[i])) pinned.push_back(std::move(child));
    }
  }
  // One that only its pin holds is left out too: nothing would keep it alive. Its pin
  // goes with `pinned`, after the link mutex, since it may be the child's last count.
  std::vector<QZRef<DW_Base>> children;
  children.reserve(pinned.size());
  for (QZRef<DW_Base>& child : pinned) {
    if (child->GetRefCount() > 1) children.push_back(std::move(child));
  }
  return children;
}

void DW_Base::StoreTransform(const QZMatrix& transform) {
  const cv::Mat& m = transform.GetMat();
  if (m.rows != 3 || m.cols != 3 || m.type() != CV_64FC1) return;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m_transform[3 * r + c] = static_cast<float>(m.at<double>(r, c));
}

QZRef<QZMatrix> DW_Base::GetTransMatFromSourceImage() const {
  QZRef<QZMatrix> matrix(new QZMatrix(3, 3, CV_64FC1, 0, true));
  MutexLock lock(dataMutex);
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) matrix->GetMat().at<double>(r, c) = m_transform[3 * r + c];
  return matrix;
}

QZRef<QZMatrix> DW_Base::GetTransMatInvertToSourceImage() const {
  QZRef<QZMatrix> matrix = GetTransMatFromSourceImage();
  matrix->Invert();
  return matrix;
}

int DW_Base::GetParentDataUnit(tav::CDataUnit** parent) const {
  return ReturnOrFail(-1, [&] {
    if (parent == nullptr) return -1;
    // A parent that is being destroyed, or that nothing but this pin holds, is reported as none.
    QZRef<DW_Base> pinned = GetParentPinned();
    *parent = pinned && pinned->GetRefCount() > 1 ? pinned.get() : nullptr;
    return 0;
  });
}

namespace {

void FillUnits(tav::CDataUnitArray* out, const std::vector<QZRef<DW_Base>>& units) {
  out->SetCount(static_cast<int>(units.size()));
  for (size_t i = 0; i < units.size(); ++i) out->SetDataUnit(static_cast<int>(i), units[i].get());
}

}  // namespace

std::vector<QZRef<DW_Base>> DW_Base::ListChildren(const tav::CParameterTree* tree) const {
  std::vector<QZRef<DW_Base>> children = GetChildrenPinned();
  if (tree == nullptr) return children;
  std::vector<QZRef<DW_Base>> listed;
  const std::string source = GetSourceHashID();
  if (children.empty() || source.empty()) return listed;
  tav::CDataUnitArray known;
  tree->GetDataUnits(children.front()->GetStageType(), source.c_str(), &known);
  for (QZRef<DW_Base>& child : children) {
    const std::string id = child->GetDataHashID();
    if (id.empty()) continue;
    for (int i = 0; i < known.GetCount(); ++i) {
      const tav::CDataUnit* unit = known.GetDataUnit(i);
      if (unit != nullptr && unit->GetHashId() != nullptr && id == unit->GetHashId()) {
        listed.push_back(std::move(child));
        break;
      }
    }
  }
  return listed;
}

int DW_Base::GetChildDataUnits(const tav::CParameterTree* tree, tav::CDataUnitArray* out) const {
  return ReturnOrFail(-1, [&] {
    if (out == nullptr) return -1;
    FillUnits(out, ListChildren(tree));
    return 0;
  });
}

int DW_Base::GetSiblingDataUnits(const tav::CParameterTree* tree, tav::CDataUnitArray* out) const {
  return ReturnOrFail(-1, [&] {
    if (out == nullptr) return -1;
    const std::string id = GetDataHashID();
    QZRef<DW_Base> parent = GetParentPinned();
    if (!parent || id.empty()) return 0;
    // The parent's children stay pinned while their ids are compared.
    std::vector<QZRef<DW_Base>> siblings = parent->ListChildren(tree);
    siblings.erase(std::remove_if(siblings.begin(), siblings.end(),
                                  [&](const QZRef<DW_Base>& sibling) { return sibling->GetDataHashID() == id; }),
                   siblings.end());
    FillUnits(out, siblings);
    return 0;
  });
}

}  // namespace orvex
