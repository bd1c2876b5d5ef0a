// The common base of the parameter nodes: one pipeline stage with one parameter set.
//
// Ownership: a node is counted; its tree's id map holds it. Parent and child links are
// plain pointers. A node holds one count of each of its results (data wraps) by data key
// and shares them with every tree through the process-wide table of results.
//
// Threads: results are requested from any thread. m_dataMutex guards a node's results;
// a node holds it while it asks its ancestors (child before parent, never twice on one
// node), and takes the table's mutex and data-wrap locks inside it. Identity and links
// are written while the tree is built, before the node is shared, and read without lock.
#ifndef ORVEX_PARAMTREE_PARAMETERNODEBASE_H
#define ORVEX_PARAMTREE_PARAMETERNODEBASE_H

#include <orvex/datawrap/DW_Base.h>
#include <orvex/foundation/Export.h>
#include <orvex/foundation/Mutex.h>
#include <orvex/foundation/PointerLists.h>
#include <orvex/foundation/QZRef.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/paramtree/detail/NodeResults.h>
#include <orvex/paramtree/detail/RequestCounters.h>
#include <orvex/stages/StageRow.h>
#include <orvex/tav/Interfaces.h>

#include <array>
#include <cstddef>
#include <string>
#include <vector>

namespace orvex {

class DataUnitManager;
class QZParameterTree;

// Size of a buffer that receives a hash id from the library, terminating NUL included.
constexpr int kHashIdBufferSize = 65;

class ORVEX_EXPORT ParameterNodeBase : public tav::CParameterTreeNode, public QZObjectBase {
 public:
  explicit ParameterNodeBase(QZParameterTree* tree);
  ~ParameterNodeBase() override;
  ParameterNodeBase(const ParameterNodeBase&) = delete;
  ParameterNodeBase& operator=(const ParameterNodeBase&) = delete;

  int GetParentNode(tav::CParameterTreeNode** parent) const override;
  int GetChildNodes(tav::CParameterTreeNodeArray* children) const override;
  // The node's results for that source image, in data-key order; borrowed pointers.
  int GetDataUnits(const char* sourceImageHashId, tav::CDataUnitArray* units) const override;
  // Registers a distinct copy of `model` (a result of this node's stage) under this node
  // and the table of results; *created is borrowed like every other unit.
  int CreateDataUnitAs(const tav::CDataUnit* model, tav::CDataUnit** created) override;

  // Appends a child; no check. Allocates only when ReserveChild did not make room.
  void AddChildNode(ParameterNodeBase* child);
  // Makes room in the child list for one more child, so AddChildNode cannot fail.
  void ReserveChild();
  // Forms the node's layer, reference and global hashes from the parent's and its own
  // single-mode hash; nothing without parent or single-mode hash.
  void CommonFillAllHashId();
  // Writes the data hash id of the result for `key` (at most 64 characters and a NUL)
  // into `out`; false, `out` untouched, for an empty key, a node without identity or an
  // over-long id.
  bool CalcDataHashId(const std::string& key, char* out) const;
  // Drops every result of that source image from this node (not from the table).
  void RemoveSameSourceData(const std::string& sourceImageHashId);
  // The same, handing the node's counts of the dropped results to `dropped`, so that the
  // caller releases them after its own locks.
  void RemoveSameSourceData(const std::string& sourceImageHashId, DroppedResults& dropped);
  // The table of results the node shares its results through (its tree's); null for a
  // node outside any tree, which keeps its results to itself.
  DataUnitManager* GetTable() const { return m_table; }

  const std::string& GetGlobalHash() const { return m_globalHash; }
  const std::string& GetLayerHash() const { return m_layerHash; }
  const std::string& GetReferenceHash() const { return m_referenceHash; }
  const std::string& GetSingleModeHash() const { return m_singleModeHash; }
  const ParamNodeArray& GetChildren() const { return m_children; }
  ParameterNodeBase* GetParent() const { return m_parent; }
  QZParameterTree* GetTree() const { return m_tree; }
  // Number of results the node holds.
  int GetDataCount() const;
  // The canonical text of the node's own parameters, as its own-parameter hash is formed
  // from it (the members of a list one per line); the stage's key text for a stage
  // without parameters, empty for the source image.
  virtual std::string GetParameterText() const { return std::string(); }
  // Parameter nodes alive in the process.
  static int GetLiveCount();

 protected:
  // The result for `key`: the node's own, else the table's under the data hash id (same
  // stage only), else with `calc` a new one from CalcData on the parent's result; extra
  // inputs attached by SetRequiredData when `setRequired`. Empty when there is none. The
  // table is consulted and, for a new result, filled in one step, so every node of every
  // tree that asks for one data hash id gets the same result object.
  QZRef<DW_Base> GetDataBase(const std::string& key, bool calc, bool setRequired);
  // Keeps `data` under `key` unless the node or the table already has an entry there.
  QZRef<DW_Base> AddNonexistentData(const std::string& key, QZRef<DW_Base> data);
  // Keeps `result` under `key` among the node's results.
  void KeepResult(const std::string& key, const QZRef<DW_Base>& result) ORVEX_REQUIRES(m_dataMutex);
  // The same for a result just found or entered in the table (`created`: entered for this
  // node); when keeping it fails, the table learns that no node holds a result it entered.
  void KeepNewResult(const std::string& key, const QZRef<DW_Base>& result, bool created) ORVEX_REQUIRES(m_dataMutex);
  // Results of a chain pinned while nodes take them up, released by the caller after its
  // locks; room for a whole chain, so taking a pin never allocates.
  class ChainPins {
   public:
    void Add(QZRef<DW_Base>&& pin) noexcept { m_pins[m_count++] = std::move(pin); }

   private:
    // Room for two chains and the results they start from: an adoption that finds its
    // chain broken, then the one the table offers once more.
    std::array<QZRef<DW_Base>, 2 * (stages::kLastStage + 2)> m_pins;
    std::size_t m_count = 0;
  };
  // For a result this node adopted (`key` its data key): makes the ancestor nodes hold
  // the results it stands on (its parent, the parent's parent, ...) up to the first that
  // holds that very result already. So a tree holds the real chain of every result it
  // holds, and the parents of what a group counts live while it counts them, whichever
  // tree made them. False when a result of the chain has lost its parent (the tree that
  // made it let go of it meanwhile): such a result is not adopted. Called under this
  // node's lock (ancestor locks come after).
  bool HoldAncestorsOf(const std::string& key, const DW_Base& result, ChainPins& pins) ORVEX_REQUIRES(m_dataMutex);
  // Pins `child`'s parent result into *parent and makes this node hold it for its input
  // (`key`): as its own result under `key` when it is this node's result for it, else
  // for the chain alone. True when the node did not hold it yet.
  bool HoldParentOf(const std::string& key, const DW_Base& child, QZRef<DW_Base>* parent);
  // Whether `result` is the one this node makes (or is handed) for `key`.
  bool IsOwnResultFor(const std::string& key, const DW_Base& result) const;

  // Whether the stage makes its results from its parent's (false for the nodes whose
  // results are handed in from outside).
  virtual bool ComputesResults() const;
  // The stage's new lazy result for `key`, or empty; built unlinked, the node links it
  // below the parent's result once it has its hash id. Runs under the node lock and the
  // table's mutex: it only builds the wrap.
  virtual QZRef<DW_Base> CalcData(const std::string& key);
  // Attaches the extra inputs of `data`; called under the node lock.
  virtual void SetRequiredData(const std::string& key, DW_Base* data);

  void SetStage(tav::DataUnitStageType stage) { m_stageType = stage; }
  // Counts how a request for a result was answered, in the table's counters.
  void CountRequest(RequestCounters::Outcome outcome) const;
  // Points the interface hash id at m_globalHash.
  void PublishHashId() { m_hashId = m_globalHash.c_str(); }

  QZParameterTree* m_tree;
  std::string m_singleModeHash;
  std::string m_layerHash;
  std::string m_globalHash;
  std::string m_referenceHash;
  ParameterNodeBase* m_parent;
  ParamNodeArray m_children;
  // The table of results the node shares its results through (its tree's), or null.
  DataUnitManager* m_table;
  // m_dataMutex guards m_dataMap.
  mutable Mutex m_dataMutex;
  NodeResults m_dataMap ORVEX_GUARDED_BY(m_dataMutex);
};

}  // namespace orvex

#endif
