// The images a run works on: files as given, folders by their image files, and the
// share of one process when a collection is split over several.
#ifndef ORVEX_TOOLS_STAGECACHE_INPUTS_H
#define ORVEX_TOOLS_STAGECACHE_INPUTS_H

#include <cstddef>
#include <string>
#include <vector>

namespace stagecache {

// One input file, or a folder entry that cannot be read as one.
struct InputFile {
  std::string path;     // the file, or the name of the built-in scene
  std::string problem;  // why it is skipped; empty for a file to read
  bool builtInScene = false;
};

// The files the inputs name: files as given, folders by their .png, .jpg and .jpeg files
// in name order. Folder entries named like images that are no readable files (dangling
// links, link loops, folders) come with the reason.
std::vector<InputFile> ExpandInputs(const std::vector<std::string>& inputs);

// Shard `index` of `count` (0 <= index < count): of the inputs sorted by path, every
// count-th one starting at `index`. The shards of one list are disjoint and together
// hold every input once; an input's shard depends only on the sorted list.
std::vector<InputFile> ShardOf(std::vector<InputFile> inputs, size_t index, size_t count);

}  // namespace stagecache

#endif
