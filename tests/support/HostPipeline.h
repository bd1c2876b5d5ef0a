// What the tests do as a host does: parameter sets, the registration callback, adding
// candidate regions and generating line segments.
#ifndef ORVEX_TESTS_SUPPORT_HOSTPIPELINE_H
#define ORVEX_TESTS_SUPPORT_HOSTPIPELINE_H

#include <OrvexStagecacheHost.h>

#include <string>
#include <vector>

namespace orvex {
namespace testing {

// A parameter set for drawn pages: one mode per stage, local-block binarization with the
// given offset.
QZ_ImageParameter PageParameters(int binarizationOffset);

// The host's registration callback; `host` is the QZ_ImageParameter of the name.
QZRef<ParamTreeGroup> RegisterGroup(void* host, QZParameterTreeLoader* loader, const char* name);

// Generates the line segments of every region through every line-segment node of the group.
void GenerateLineSegments(ParamTreeGroup& group, const std::vector<std::string>& regionIds);

// Adds the candidate regions and generates their line segments; returns the region ids.
std::vector<std::string> AddRegionsAndGenerateLines(ParamTreeGroup& group, const std::string& imageId);

// Computations run so far by every stage class, and since an earlier reading.
std::vector<int> ComputationCounts();
std::vector<int> ComputationsSince(const std::vector<int>& before);

}  // namespace testing
}  // namespace orvex

#endif
