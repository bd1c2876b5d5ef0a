// A parameter tree: owns its nodes by id, lists them by stage, keeps the region groups,
// and drops a source image's results from its nodes.
//
// Ownership: the id map holds the only owning count of every node; the other maps hold
// plain pointers. Threads: the maps are filled while the tree is built and only read
// afterwards; the region ids by source have a lock of their own because region colour
// image nodes add to them concurrently. Once the loader has handed out a group over the
// tree, the tree is finished: it takes no more nodes, so that registering its name again
// (which extends the cached tree as the first registration did) changes nothing that
// other threads read.
#ifndef ORVEX_PARAMTREE_QZPARAMETERTREE_H
#define ORVEX_PARAMTREE_QZPARAMETERTREE_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/paramtree/DataUnitManager.h>
#include <orvex/paramtree/ParamNodeRelation.h>
#include <orvex/paramtree/ParameterNodeBase.h>

#include <array>
#include <atomic>
#include <deque>
#include <map>
#include <orvex/foundation/Mutex.h>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace orvex {

class ORVEX_EXPORT QZParameterTree : public QZObjectBase {
 public:
  // Stage numbers a tree lists nodes under: 0 to 28 (24 to 28 are reserved).
  static constexpr int kStageSlots = 29;

  // A tree whose nodes share their results through the default table: the table of the
  // pool in use now, which the pool names as the default table source when the library
  // loads (without a source, each node keeps its results to itself).
  explicit QZParameterTree(tav::DataUnitStageType endNodeType);
  // A tree whose nodes share their results through `table`; with null, each node keeps
  // its results to itself.
  QZParameterTree(tav::DataUnitStageType endNodeType, DataUnitManager* table);
  ~QZParameterTree() override;
  QZParameterTree(const QZParameterTree&) = delete;

  // Names the function that gives the default table to trees made without one and
  // returns the one named before; the layer that owns the default table calls it as the
  // library loads. Thread-safe: a tree made meanwhile asks the old source or the new.
  using DefaultTableSource = DataUnitManager* (*)();
  static DefaultTableSource SetDefaultTableSource(DefaultTableSource source);
  QZParameterTree& operator=(const QZParameterTree&) = delete;

  // Keeps `node` under `id` and enters it in its parent's child list; false, nothing
  // kept or linked, for an empty or taken id or a finished tree. All or nothing when
  // memory runs out.
  bool PushBackNode(const std::string& id, QZRef<ParameterNodeBase> node);
  // Marks the tree finished (the loader does, once a group over it is handed out).
  void MarkFinished() { m_finished.store(true, std::memory_order_release); }
  bool IsFinished() const { return m_finished.load(std::memory_order_acquire); }
  QZRef<ParameterNodeBase> FindTreeNodeFromMapByID(const std::string& id) const;
  // Makes room for `more` nodes, for builders that know how many will come.
  void ReserveNodes(size_t more);
  // The generation's list of a stage (created empty when missing). For building only.
  ParamNodeArray& GetNodesFromMap(tav::DataUnitStageType stage);
  // The list of a stage, or an empty list; changes nothing, so readers may call it from
  // any thread once the tree is built.
  const ParamNodeArray& FindNodesOfStage(tav::DataUnitStageType stage) const;
  std::map<tav::DataUnitStageType, ParamNodeArray>& GetNodesMap() { return m_nodesMap; }
  ParamNodeArray& GetNodesOfTreeEnd() { return GetNodesFromMap(m_endNodeType); }
  const ParameterNodeBase* GetRootNode() const { return m_rootNode; }
  void SetRootNode(ParameterNodeBase* root) { m_rootNode = root; }
  tav::DataUnitStageType GetEndNodeType() const { return m_endNodeType; }
  void SetEndNodeType(tav::DataUnitStageType stage) { m_endNodeType = stage; }
  void SetSaveUnitType(int type) { m_saveUnitType = type; }
  ParameterNodeBase* GetUserCustomNode(tav::DataUnitStageType stage) const;
  void SetUserCustomNode(tav::DataUnitStageType stage, ParameterNodeBase* node);
  std::vector<ParamNodeGroup>& GetBinNodeGroupsOfRegion(const std::string& regionNodeId);
  // Number of nodes the tree owns.
  int GetNodeCount() const { return static_cast<int>(m_nodesById.size()); }
  // Every node of a stage, listed or not, in the order the tree took them.
  std::vector<ParameterNodeBase*> GetAllNodesOfStage(tav::DataUnitStageType stage) const;

  // Records a region result added under a source image (region colour image nodes).
  void AddRegionId(const std::string& sourceImageHashId, const std::string& regionId);
  std::vector<std::string> GetRegionIds(const std::string& sourceImageHashId) const;

  // Every node of a stage that the counter (if any) does not keep drops its results of
  // the source image (stages 1 to 28); then the table drops what only it holds, until
  // nothing is left that only it holds. Results are freed outside every lock.
  void RemoveSameSourceData(const std::string& sourceImageHashId, const StageTypeCounter* counter);
  // The first half of RemoveSameSourceData: the nodes' counts of the dropped results go
  // to `dropped`, for the caller to release after its own locks before it purges the table.
  void DropSourceResults(const std::string& sourceImageHashId, const StageTypeCounter* counter,
                         DroppedResults& dropped);
  // The table of results the tree's nodes share their results through.
  DataUnitManager* GetTable() const { return m_table; }
  // The counters of the stages still needed per source image, shared by every group over
  // the tree.
  SourceStageCounters& GetSourceCounters() { return m_sourceCounters; }
  // Number of source images whose region ids the tree keeps.
  int GetRegionIdSourceCount() const;

 private:
  DataUnitManager* m_table;
  // m_regionIdsMutex guards m_regionIdsBySource; a leaf.
  mutable Mutex m_regionIdsMutex;
  std::map<std::string, std::vector<std::string>> m_regionIdsBySource ORVEX_GUARDED_BY(m_regionIdsMutex);
  int m_saveUnitType;
  tav::DataUnitStageType m_endNodeType;
  std::map<tav::DataUnitStageType, ParamNodeArray> m_nodesMap;
  // The lists of m_nodesMap of stages 0 to 28, once asked for: a builder's quick way in.
  std::array<ParamNodeArray*, kStageSlots> m_stageLists{};
  std::map<tav::DataUnitStageType, ParameterNodeBase*> m_userCustomNodes;
  std::map<std::string, std::vector<ParamNodeGroup>> m_binNodeGroupsOfRegion;
  ParameterNodeBase* m_rootNode;
  // Every node by node id, and the owning counts in the order the tree took the nodes (it
  // lets them go in the reverse order). The keys view the nodes' own id texts, or
  // m_otherIds for a node offered under another id.
  std::unordered_map<std::string_view, ParameterNodeBase*> m_nodesById;
  std::vector<QZRef<ParameterNodeBase>> m_ownedNodes;
  std::deque<std::string> m_otherIds;
  // Every node by stage, in the order the tree took them: the purge's index (the order
  // within a stage does not matter, each node drops its own results).
  std::array<std::vector<ParameterNodeBase*>, kStageSlots> m_nodesByStage;
  // What FindNodesOfStage answers for a stage without list.
  const ParamNodeArray m_noNodes{};
  std::atomic<bool> m_finished{false};
  SourceStageCounters m_sourceCounters;
};

}  // namespace orvex

#endif
