// A tree group: the host's view of one registered parameter tree, the entry point for
// source images, and the per-source counters of the stages whose results are still needed.
//
// Ownership: a group is counted; the loader's group pool holds one count and every host
// handle another. The group holds its tree. Pointers handed out through the interface
// are borrowed (nodes live with the tree, results while a node or the table holds them).
//
// Threads: every operation may be called from any thread once the tree is built (keep
// tree construction apart from them). The read operations take no lock and change
// nothing. The counters live with the tree, so every group over one tree counts with the
// same ones; the counter operations and RemoveSameSourceData take their mutex, so a
// release never drops what another requester of the same image counts, through this
// group or another over the same tree.
#ifndef ORVEX_LOADER_PARAMTREEGROUP_H
#define ORVEX_LOADER_PARAMTREEGROUP_H

#include <orvex/foundation/Export.h>
#include <orvex/foundation/ThreadAnnotations.h>
#include <orvex/improc/DP_Stages.h>
#include <orvex/paramtree/QZParameterTree.h>
#include <orvex/tav/Interfaces.h>

#include <map>
#include <memory>
#include <orvex/foundation/Mutex.h>
#include <string>
#include <vector>

namespace orvex {

class ORVEX_EXPORT ParamTreeGroup : public tav::CParameterTree, public QZObjectBase {
 public:
  // A group without tree: every operation that needs one answers -1 (or false).
  ParamTreeGroup();
  explicit ParamTreeGroup(QZRef<QZParameterTree> tree);
  ~ParamTreeGroup() override;
  ParamTreeGroup(const ParamTreeGroup&) = delete;
  ParamTreeGroup& operator=(const ParamTreeGroup&) = delete;

  QZParameterTree* GetTree() const { return m_tree.get(); }

  int GetRootNode(tav::CParameterTreeNode** root) const override;
  // -1 for a null or empty id, a null out-parameter or a group without tree; otherwise
  // 0, whether the node was found or not, and the node is written only when found.
  int GetNode(const char* nodeHashId, tav::CParameterTreeNode** node) const override;
  // Looks the id up in the table of results the tree shares its results through (the
  // pool's without a tree). -1 for a null or empty id or a null out-parameter; otherwise
  // 0, whether found or not, and the unit is written only when found.
  int GetDataUnit(const char* dataHashId, tav::CDataUnit** unit) const override;
  int GetNodes(tav::DataUnitStageType stage, tav::CParameterTreeNodeArray* nodes) const override;
  // The results for that source image of every node of the stage, in node order.
  int GetDataUnits(tav::DataUnitStageType stage, const char* sourceImageHashId,
                   tav::CDataUnitArray* units) const override;

  // The candidate-regions nodes, below which region parts are grown: the tree's own list
  // of the stage, to be read, not changed. A tree without such nodes, or a group without
  // tree, answers an empty list of the group's; nothing is added to the tree.
  ParamNodeArray& GetRegionNodes();
  const ParamNodeArray& GetRegionNodes() const;
  // Adds a source image through the root and raises its counters; false, with counters
  // and `hashOut` (65 bytes) unchanged, when the root refuses it (PN_SourceImage::AddData).
  // The caller may refill its matrix once the call returns: an image new to the process
  // is kept as a copy, or, handed over (std::move) and shared with nobody, as it is.
  bool AddSourceData(QZRef<QZMatrix>& image, int sourceImageArg1, int sourceImageArg2, char* hashOut,
                     const StageRequestMap& savedTypes);
  bool AddSourceData(QZRef<QZMatrix>&& image, int sourceImageArg1, int sourceImageArg2, char* hashOut,
                     const StageRequestMap& savedTypes);
  // The same on several groups, the image hashed once per call; all or nothing.
  static bool AddSourceDataToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>& image,
                                    int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                    const StageRequestMap& savedTypes);
  static bool AddSourceDataToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>&& image,
                                    int sourceImageArg1, int sourceImageArg2, char* hashOut,
                                    const StageRequestMap& savedTypes);
  // The same for an image known by its id, whose pixels `pixels` gives when a result first
  // needs them. Pixels that cannot be had or have another id settle nothing; a later add
  // of the image's pixels (or of a loader that gives them) serves every holder.
  static bool AddKnownImageToGroups(const std::vector<ParamTreeGroup*>& groups, const std::string& id,
                                    QZRef<SourcePixels> pixels, int sourceImageArg1, int sourceImageArg2,
                                    const StageRequestMap& savedTypes);
  // Adds every candidate region that the tree's candidate-regions nodes find in the
  // source image (computing them first when needed) through the region colour image nodes
  // below them; returns the region ids, in node and region order, each to be used as the
  // key of the region nodes' results. A region added before is found again and listed
  // once more. Empty for a group without tree or an image it was not given.
  std::vector<std::string> AddCandidateRegions(const std::string& sourceHash);
  void PlusSavedTypeCount(const std::string& sourceHash, const StageRequestMap& savedTypes);
  void MinusSavedTypeCount(const std::string& sourceHash, const StageRequestMap& savedTypes);
  // Drops that source image's results from the tree, except the stages still counted,
  // then the results only the table holds. The counters are read and the results dropped
  // under the tree's counters mutex; the results are freed after it.
  void RemoveSameSourceData(const std::string& sourceHash);
  // Whether a counter entry exists for the source image.
  bool HasSavedTypeCounter(const std::string& sourceHash) const;

  // Stores the integer as a stage unchanged (no range check); always true.
  static bool TransIntToDataUnitStageType(int value, tav::DataUnitStageType& stage);

 private:
  // AddSourceDataToGroups, the matrix handed over or not.
  static bool AddToGroups(const std::vector<ParamTreeGroup*>& groups, QZRef<QZMatrix>& image, bool handedOver,
                          int sourceImageArg1, int sourceImageArg2, char* hashOut, const StageRequestMap& savedTypes);
  // AddSourceData for an image whose id is known.
  bool AddHashedSourceData(QZRef<QZMatrix>& image, bool handedOver, const std::string& id, int sourceImageArg1,
                           int sourceImageArg2, const StageRequestMap& savedTypes, const DW_Base** checked);

  QZRef<QZParameterTree> m_tree;
  // The tree's counters; a group without tree counts with counters of its own.
  std::unique_ptr<SourceStageCounters> m_ownCounters;
  SourceStageCounters* m_counters;
  // What GetRegionNodes answers when the tree has no candidate-regions nodes.
  ParamNodeArray m_noRegionNodes;
};

}  // namespace orvex

#endif
