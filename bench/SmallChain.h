// A whole-image chain of four nodes built by hand, shared by the request benchmarks.
#ifndef ORVEX_BENCH_SMALLCHAIN_H
#define ORVEX_BENCH_SMALLCHAIN_H

#include <OrvexStagecacheHost.h>

#include <string>
#include <vector>

namespace orvex {
namespace bench {

struct SmallChain {
  QZRef<QZParameterTree> tree{new QZParameterTree(tav::DUST_CANDIDATE_ROIS)};
  PN_SourceImage* source = Add(new PN_SourceImage(tree.get()));
  PN_ColourImageAfterSizeFitting* fitted = Add(new PN_ColourImageAfterSizeFitting(tree.get(), source));
  PN_ColourImageAfterScalingDown* scaled = Add(new PN_ColourImageAfterScalingDown(tree.get(), fitted, 0));
  PN_ColourImageForROI* forRegions = Add(new PN_ColourImageForROI(tree.get(), scaled));
  // The ids of the images added, in order.
  std::vector<std::string> images;

  SmallChain() = default;
  SmallChain(const SmallChain&) = delete;
  SmallChain& operator=(const SmallChain&) = delete;
  ~SmallChain() {
    for (const std::string& image : images) tree->RemoveSameSourceData(image, nullptr);
  }

  // Adds `pixels` at the root; with `makeResult`, the last node's (lazy) result too.
  const std::string& AddImage(const cv::Mat& pixels, bool makeResult) {
    QZRef<QZMatrix> matrix = new QZMatrix(pixels);
    char id[kHashIdBufferSize];
    source->AddData(matrix, 0, 0, id);
    images.push_back(id);
    if (makeResult) forRegions->GetData(id, true, true);
    return images.back();
  }

 private:
  template <class Node>
  Node* Add(Node* node) {
    tree->PushBackNode(node->GetGlobalHash(), QZRef<ParameterNodeBase>(node));
    return node;
  }
};

}  // namespace bench
}  // namespace orvex

#endif
