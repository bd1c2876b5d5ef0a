// A parameter tree as the report and the explore page draw it: the DOT text of its nodes
// (or of its stages, for trees too large to draw node by node), the SVG of one image's
// results over it, and the card a click on a node shows.
#ifndef ORVEX_TOOLS_STAGECACHE_TREEPICTURES_H
#define ORVEX_TOOLS_STAGECACHE_TREEPICTURES_H

#include "Run.h"
#include "TreeDrawing.h"

#include <string>

namespace stagecache {

// Node colours: a result of the node's own, a result shared with another tree, none.
inline constexpr char kOwnColour[] = "#2f6fd0";
inline constexpr char kSharedColour[] = "#f08c00";
inline constexpr char kIdleColour[] = "#e4e4e4";

// The DOT text of a set's tree: one box per node, named n<place in the set's list of
// nodes>, labelled with its stage and the short id of its parameters.
std::string NodeDot(const SetView& shape);
// The stage-level summary of a tree too large to draw node by node: one box per stage,
// named s<stage>, with its number of nodes.
std::string StageDot(const SetView& shape);
// Whether the tree is drawn by stage (StageDot) rather than node by node (NodeDot).
bool DrawnByStage(const SetView& shape);
// The DOT text the tree is drawn from: NodeDot or StageDot.
std::string TreeDot(const SetView& shape);

// One set's tree for one image, laid out from TreeDot: nodes coloured by whether they
// hold a result and share it with another tree, each linked to "#<anchor>c<place>".
std::string TreeSvg(TreeDrawing& drawing, const SetView& set, const std::string& anchor);

// The card of one node with the HTML id `id`: its stage, id, parameters, results, compute
// time and a picture per entry of node.imageFiles (links as given).
std::string NodeCard(const NodeView& node, const std::string& id);

}  // namespace stagecache

#endif
