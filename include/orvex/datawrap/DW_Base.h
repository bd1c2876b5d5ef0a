// The common base of the data wraps: one stage result for one source image.
//
// Ownership: a wrap is counted. Parameter nodes and the process-wide table of results
// hold it through QZRef<DW_Base>; it owns its stage object. Parent and child links are
// plain pointers that both ends keep up to date: a wrap's destruction unlinks it from its
// parent and leaves its children (and clones) without a parent.
//
// Threads: every operation is safe to call from any thread, with one exception: the id
// setters (SetDataHashID, SetSourceHashID) change the texts the data unit's id fields
// point at, so they must not run while other threads read those fields; the library sets
// a result's ids before anyone else can find it. The link fields and the ids of all wraps
// are guarded by one process-wide link mutex. dataMutex guards the stage object, the extra
// inputs and the transform. Their places in the lock order: OrvexStagecacheHost.h.
#ifndef ORVEX_DATAWRAP_DW_BASE_H
#define ORVEX_DATAWRAP_DW_BASE_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/PointerLists.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/datawrap/ResultStore.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/improc/QZMatrix.h>
#include <orvex/tav/Interfaces.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <orvex/foundation/Mutex.h>
#include <string>
#include <vector>

namespace orvex {

class DataUnitManager;
class NodeResults;

class ORVEX_EXPORT DW_Base : public QZObjectBase, public tav::CDataUnit {
 public:
  DW_Base();
  // Copies the future parent's source-image hash id; linking to it is the template's job.
  explicit DW_Base(const DW_Base* futureParent);
  ~DW_Base() override;
  DW_Base(const DW_Base&) = delete;
  DW_Base& operator=(const DW_Base&) = delete;

  void SetDataHashID(const std::string& hashId);
  std::string GetDataHashID() const;
  void SetSourceHashID(const std::string& hashId);
  std::string GetSourceHashID() const;
  // The source-image hash id without a copy or a lock: valid while the wrap lives and
  // nobody calls SetSourceHashID (see the exception above).
  const std::string& SourceHashIdText() const ORVEX_NO_THREAD_SAFETY_ANALYSIS { return sourceImageHashId; }
  void CloneSourceHashID(const DW_Base* other);

  void SetRequiredDataAvailableFlag(bool available);
  bool IsRequiredDataAvailable() const;

  // Child links, in creation order; no check for duplicates or null.
  void AddChildData(DW_Base* child);
  void RemoveChildData(DW_Base* child);
  void RemoveParentData();

  // Makes this wrap, built without parent, a child of `parent`: it takes the parent's
  // source-image id and joins its child list. Lets a node give a new result its hash id
  // before anyone can find it; nothing happens when `parent` is its parent already.
  void LinkAsChildOf(DW_Base* parent);

  // Turns this freshly made wrap into a distinct copy of `source`: stage, media type,
  // source-image id and parent are copied, the hash id is new, the result is not.
  void Clone(const DW_Base* source);

  // The parent, pinned by a count, or empty when there is none or it is being destroyed.
  QZRef<DW_Base> GetParentPinned() const;
  // The children, each pinned by a count, in creation order; children that are being
  // built or destroyed, or that nothing else holds, are left out.
  std::vector<QZRef<DW_Base>> GetChildrenPinned() const;

  // New 3 x 3 matrices of the transform from source-image coordinates to this result,
  // and of its inverse.
  QZRef<QZMatrix> GetTransMatFromSourceImage() const;
  QZRef<QZMatrix> GetTransMatInvertToSourceImage() const;

  // Data wraps alive in the process.
  static int GetLiveCount();
  // The store this result is kept in beyond the process (and looked up in before its
  // stage runs); set by the node that makes the wrap, before anyone else can find it.
  void SetResultStore(std::shared_ptr<ResultStore> store) { resultStore = std::move(store); }
  // The code version a stored result of this wrap's stage carries; 0 for a stage whose
  // results are not stored (the source image, and results that are their parent's).
  virtual int StoredCodeVersion() const { return 0; }
  // How long the stage object this result made for itself took to compute, in
  // nanoseconds; 0 before it ran and for a result that takes its parent's stage object.
  virtual int64_t GetComputeNanoseconds() const { return 0; }
  // Whether the stage object this result made for itself was taken from the store.
  virtual bool IsLoadedFromStore() const { return false; }

  // Listings hand out borrowed units: each was held by a node, the table of results or
  // a host handle when it was listed, and stays valid while that holder keeps it.
  int GetParentDataUnit(tav::CDataUnit** parent) const override;
  // With a tree, only the children whose hash id that tree lists for their stage and
  // this wrap's source image; without one, every child.
  int GetChildDataUnits(const tav::CParameterTree* tree, tav::CDataUnitArray* children) const override;
  int GetSiblingDataUnits(const tav::CParameterTree* tree, tav::CDataUnitArray* siblings) const override;

 protected:
  // The children GetChildDataUnits lists, pinned.
  std::vector<QZRef<DW_Base>> ListChildren(const tav::CParameterTree* tree) const;
  void InitTransformMatrix();
  void SetStageType(tav::DataUnitStageType stage) { m_stageType = stage; }
  void SetMediaType(tav::DataUnitMediaType media) { m_mediaType = media; }
  // Records `parent` and registers this wrap as its child.
  void LinkToParent(DW_Base* parent);
  bool HasParent() const;
  // Copies a stage's transform into the data unit.
  void StoreTransform(const QZMatrix& transform) ORVEX_REQUIRES(dataMutex);
  // The required-data flag.
  bool RequiredDataAvailableLocked() const ORVEX_REQUIRES(dataMutex) { return requiredDataAvailable; }
  // The store of this result, or null; written once before the wrap is shared.
  const std::shared_ptr<ResultStore>& Store() const { return resultStore; }
  // The store's bytes for `key`: a store that throws is a miss. REQUIRES: a store.
  bool LoadStoredBytes(const StoreKey& key, std::vector<unsigned char>* payload) const;
  // Hands the bytes to the store: a store that throws keeps nothing, and the computed
  // result stands. REQUIRES: a store.
  void SaveStoredBytes(const StoreKey& key, const std::vector<unsigned char>& payload) const;
  // Tells the store that the bytes it gave for `key` are no result. REQUIRES: a store.
  void RefuseStoredBytes(const StoreKey& key) const;
  // Lets a buffer kept from one result to the next go when it is much larger than the
  // last result needed: a thread keeps no more than its recent results need.
  static void KeepBufferNearItsUse(std::vector<unsigned char>& buffer) noexcept;

  // dataMutex guards the template's stage object, the extra inputs, the required-data
  // flag and the transform.
  mutable Mutex dataMutex ORVEX_ACQUIRED_BEFORE(s_linkMutex);

 private:
  std::shared_ptr<ResultStore> resultStore;

  // The link mutex: guards the links and ids below, of every wrap. A leaf.
  static Mutex s_linkMutex;

  DW_Base* parentData ORVEX_GUARDED_BY(s_linkMutex);
  DataWrapArray childData ORVEX_GUARDED_BY(s_linkMutex);
  // Clones that point at this wrap without being its children; unlinked like children.
  DataWrapArray cloneData ORVEX_GUARDED_BY(s_linkMutex);
  bool isClone ORVEX_GUARDED_BY(s_linkMutex);
  std::string hashId ORVEX_GUARDED_BY(s_linkMutex);
  std::string sourceImageHashId ORVEX_GUARDED_BY(s_linkMutex);
  bool requiredDataAvailable ORVEX_GUARDED_BY(dataMutex);

  // How the table of results finds the entries only it holds (see DataUnitManager).
  friend class DataUnitManager;
  friend class NodeResults;
  // Nodes whose results hold this wrap; changed by NodeResults.
  std::atomic<int> nodeHolders{0};
  // The table that owns it (the first to list it; null while none lists it), set and
  // cleared under that table's mutex.
  std::atomic<DataUnitManager*> ownerTable{nullptr};
  // Stands for the owner table's mutex, which the analysis cannot name through ownerTable:
  // the table claims it (DataUnitManager::TableFieldsOf) while it holds its own mutex.
  class ORVEX_CAPABILITY("owner table's mutex") OwnerTableMutex {};
  OwnerTableMutex ownerTableMutex;
  // Guarded by the owner's mutex: whether it is listed as held by no node, the key it
  // holds it under (while it holds it under one key only), the number of its entries
  // holding it, and its links in the owner's list of entries no node holds (a list
  // through the results themselves, so that listing one never allocates).
  bool unheldListed ORVEX_GUARDED_BY(ownerTableMutex) = false;
  const std::string* tableKey ORVEX_GUARDED_BY(ownerTableMutex) = nullptr;
  int tableEntries ORVEX_GUARDED_BY(ownerTableMutex) = 0;
  DW_Base* unheldPrevious ORVEX_GUARDED_BY(ownerTableMutex) = nullptr;
  DW_Base* unheldNext ORVEX_GUARDED_BY(ownerTableMutex) = nullptr;
};

}  // namespace orvex

#endif
