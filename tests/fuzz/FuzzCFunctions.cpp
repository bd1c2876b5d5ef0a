// Sequences of C-function calls with null, empty, unknown and over-long ids, stages
// outside 1 to 23 and units of the wrong stage, on a group with one processed image.
#include <OrvexStagecache.h>
#include <OrvexStagecacheHost.h>

#include "../support/HostPipeline.h"
#include "../support/TestScene.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

namespace {

using namespace orvex;

struct World {
  QZ_ImageParameter parameters = testing::PageParameters(10);
  QZRef<ParamTreeGroup> group;
  std::string image;
  std::vector<std::string> ids;                     // every node and result id the group knows
  std::vector<const tav::CDataUnit*> units;         // every result of the image
  std::vector<const tav::CParameterTreeNode*> nodes;

  int copies = 0;

  World() {
    group = QZParameterTreeAndDataPool::GetInstance()->GetTreeLoader()->InitParameterTreeGroup(
        &parameters, &testing::RegisterGroup, "fuzz-c-functions");
    AddImage();
  }

  // Drops the image with every copy made of its results, and adds it again.
  void Reset() {
    group->MinusSavedTypeCount(image, RequestEveryStage());
    group->RemoveSameSourceData(image);
    ids.clear();
    units.clear();
    nodes.clear();
    copies = 0;
    AddImage();
  }

  void AddImage() {
    QZRef<QZMatrix> matrix(new QZMatrix(testing::DrawBarPage(cv::Size(160, 120))));
    char id[kHashIdBufferSize];
    group->AddSourceData(matrix, 0, 0, id, RequestEveryStage());
    image = id;
    testing::AddRegionsAndGenerateLines(*group, image);
    for (int stage = 1; stage <= 23; ++stage) {
      tav::CParameterTreeNodeArray stageNodes;
      group->GetNodes(static_cast<tav::DataUnitStageType>(stage), &stageNodes);
      for (int i = 0; i < stageNodes.GetCount(); ++i) {
        nodes.push_back(stageNodes.GetParameterTreeNode(i));
        ids.push_back(stageNodes.GetParameterTreeNode(i)->GetHashId());
      }
      tav::CDataUnitArray stageUnits;
      group->GetDataUnits(static_cast<tav::DataUnitStageType>(stage), image.c_str(), &stageUnits);
      for (int i = 0; i < stageUnits.GetCount(); ++i) {
        units.push_back(stageUnits.GetDataUnit(i));
        ids.push_back(stageUnits.GetDataUnit(i)->GetHashId());
      }
    }
  }
};

World& TheWorld() {
  static World world;
  return world;
}

// An id that is null, empty, unknown, over-long or real.
const char* PickId(FuzzedDataProvider& data, std::string& storage) {
  switch (data.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: return nullptr;
    case 1: return "";
    case 2: storage = data.ConsumeRandomLengthString(80); return storage.c_str();
    case 3: storage.assign(data.ConsumeIntegralInRange<size_t>(65, 5000), 'f'); return storage.c_str();
    default:
      storage = TheWorld().ids[data.ConsumeIntegralInRange<size_t>(0, TheWorld().ids.size() - 1)];
      return storage.c_str();
  }
}

tav::DataUnitStageType PickStage(FuzzedDataProvider& data) {
  return static_cast<tav::DataUnitStageType>(data.ConsumeBool() ? data.ConsumeIntegralInRange<int>(0, 30)
                                                                : data.ConsumeIntegral<int>());
}

template <class T>
T* PickFrom(FuzzedDataProvider& data, const std::vector<T*>& items) {
  if (items.empty() || data.ConsumeIntegralInRange<int>(0, 5) == 0) return nullptr;
  return items[data.ConsumeIntegralInRange<size_t>(0, items.size() - 1)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  World& world = TheWorld();
  FuzzedDataProvider data(bytes, size);
  const tav::CParameterTree* tree = data.ConsumeIntegralInRange<int>(0, 7) == 0 ? nullptr : world.group.get();
  tav::CDataUnitArray units;
  tav::CParameterTreeNodeArray nodes;
  std::string storage;
  for (int call = 0; call < 32 && data.remaining_bytes() > 0; ++call) {
    tav::CParameterTreeNode* node = nullptr;
    tav::CDataUnit* unit = nullptr;
    const auto* someNode = PickFrom(data, world.nodes);
    const auto* someUnit = PickFrom(data, world.units);
    switch (data.ConsumeIntegralInRange<int>(0, 13)) {
      case 0: TAV_ParameterTree_GetRootNode(tree, data.ConsumeBool() ? &node : nullptr); break;
      case 1: TAV_ParameterTree_GetNode(tree, PickId(data, storage), data.ConsumeBool() ? &node : nullptr); break;
      case 2: TAV_ParameterTree_GetNodes(tree, PickStage(data), data.ConsumeBool() ? &nodes : nullptr); break;
      case 3: TAV_ParameterTree_GetDataUnit(tree, PickId(data, storage), data.ConsumeBool() ? &unit : nullptr); break;
      case 4: TAV_ParameterTree_GetDataUnits(tree, PickStage(data), PickId(data, storage), &units); break;
      case 5: TAV_ParameterTreeNode_GetParentNode(someNode, &node); break;
      case 6: TAV_ParameterTreeNode_GetChildNodes(someNode, data.ConsumeBool() ? &nodes : nullptr); break;
      case 7: TAV_ParameterTreeNode_GetDataUnits(someNode, PickId(data, storage), &units); break;
      case 8: {
        // A copy of a unit under a node of any stage: refused unless the stages agree.
        tav::CParameterTreeNode* target = const_cast<tav::CParameterTreeNode*>(someNode);
        // Copies live in their node until their image goes: now and then it goes.
        if (TAV_ParameterTreeNode_CreateDataUnitAs(target, someUnit, &unit) == 0 && ++world.copies > 200) {
          world.Reset();
          return 0;
        }
        break;
      }
      case 9: TAV_DataUnit_GetParentDataUnit(someUnit, &unit); break;
      case 10: TAV_DataUnit_GetChildDataUnits(someUnit, tree, &units); break;
      case 11: TAV_DataUnit_GetSiblingDataUnits(someUnit, tree, &units); break;
      case 12: {
        core::CImageData* image = nullptr;
        TAV_DataUnit_GetDataAsImageData(someUnit, data.ConsumeBool() ? &image : nullptr);
        break;
      }
      default:
        TAV_FreeDataUnitArray(data.ConsumeBool() ? &units : nullptr);
        TAV_FreeParameterTreeNodeArray(&nodes);
        break;
    }
  }
  return 0;
}
