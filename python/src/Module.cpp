// orvex_stagecache._core: the Cache and Image classes for Python.
#include "CacheBinding.h"

#include <orvex/hostkit/ParameterSets.h>

#include <pybind11/stl.h>

namespace py = pybind11;
using orvex::python::Cache;
using orvex::python::Image;

PYBIND11_MODULE(_core, module) {
  module.doc() = "The OrvexStagecache image pipeline's cache: stage results computed once, shared by every "
                 "parameter set, kept across runs in an optional result store.";
  module.attr("__version__") = ORVEX_PROJECT_VERSION;

  module.def(
      "stage_names",
      [] {
        std::vector<std::string> names;
        for (int stage = orvex::stages::kFirstStage; stage <= orvex::stages::kLastStage; ++stage) {
          names.push_back(orvex::stages::GetStageName(stage));
        }
        return names;
      },
      "The names of stages 1 to 23, in order; Image.result takes a stage by number or name.");
  module.def(
      "default_parameters",
      [] { return py::module_::import("json").attr("loads")(orvex::hostkit::WriteParameterSets(orvex::hostkit::DefaultParameterSets())); },
      "The built-in parameter sets as a dict in the parameter file's structure, with the file's own key names "
      "(parameterSets, binarizationModes, intArg1, ...): change it and pass it to Cache(params=...).");
  module.def("canonical_parameters", &orvex::python::CanonicalParameters, py::arg("params") = py::none(),
             "The parameter sets of params (None, a parameter file's path or its structure as a dict, as for "
             "Cache) as the parameter file the library writes: the same text for equal sets, whatever file, dict, "
             "spacing or spelling of modes they came from, and another text when any name or value differs. "
             "Raises as Cache(params=...) does.");

  py::class_<Image>(module, "Image",
                    "An image added to every parameter set of a Cache. Use it as a context manager: leaving the "
                    "with block releases it from the cache. Result views stay valid after the release.")
      .def_property_readonly("id", &Image::Id, "The source image's hash id (32 hex digits), the same for equal pixels.")
      .def_property_readonly("name", &Image::Name,
                             "The name the summary gives the image, as it was given: the path (str or bytes, as "
                             "os.fspath gives it), the name argument of add(), or 'array'.")
      .def_property_readonly("released", &Image::Released, "Whether the image was released.")
      .def("summary", &Image::Summary,
           "The image's summary as a dict: the stagecache tool's --jsonl line (size, per-stage figures, and each "
           "set's regions and line segments in source-image coordinates); its 'image' is the name property. "
           "The line is a format shared with the tool's output, so its keys keep the line's own names "
           "(imageId, computeMs, lineSegments) rather than the snake_case of the module's other dicts.")
      .def("regions", &Image::Regions, py::arg("set_name"),
           "The set's candidate regions: float32 array (N, 4, 2) of corners in source-image coordinates.")
      .def("line_segments", &Image::LineSegments, py::arg("set_name"),
           "The set's line segments: float32 array (M, 4) of x1 y1 x2 y2 in source-image coordinates.")
      .def("result", &Image::Result, py::arg("set_name"), py::arg("stage"), py::arg("region") = 0, py::arg("branch") = 0,
           "An image result of the set as a read-only numpy view of the result's own pixels (uint8, H x W or "
           "H x W x C). stage: 1 to 23 or a name from stage_names(); region: the region's place in regions() for "
           "region stages (9 and after); branch: the node's place among the set's nodes of that stage. The view "
           "keeps the result's pixels alive, unchanged, for as long as it lives, but not the cached result: the "
           "image's release drops that as usual. Numpy refuses to make the view writeable. Raises KeyError for "
           "an unknown set, ValueError for an unknown stage or one without image results, IndexError for a "
           "region or branch out of range.")
      .def("release", &Image::Release, "Releases the image from every set; later reads raise ValueError.")
      .def("__enter__", [](Image& image) -> Image& { return image; }, py::return_value_policy::reference)
      .def("__exit__",
           [](Image& image, const py::object&, const py::object&, const py::object&) {
             image.Release();
             return false;
           })
      .def("__repr__", [](const Image& image) {
        return "<orvex_stagecache.Image " + image.Id() + (image.Released() ? " released>" : ">");
      });

  // The pool's figures as plain read-only structures; the package's Cache.statistics
  // turns them into the dict it documents.
  py::class_<orvex::StageStatistics>(module, "StageStatistics", "What the process's cache did at one stage.")
      .def_readonly("own_results", &orvex::StageStatistics::ownResults, "Requests answered from a node's own results.")
      .def_readonly("adopted_results", &orvex::StageStatistics::adoptedResults,
                    "Requests answered by adopting another tree's result.")
      .def_readonly("created_results", &orvex::StageStatistics::createdResults, "Requests that created a result.")
      .def_readonly("computations", &orvex::StageStatistics::computations, "Computations run.")
      .def_readonly("loads", &orvex::StageStatistics::loads, "Results loaded from the store instead of computed.")
      .def_readonly("compute_nanoseconds", &orvex::StageStatistics::computeNanoseconds,
                    "The computations' time in nanoseconds.");
  py::class_<orvex::StoreStatistics>(module, "StoreStatistics", "What the result store did since it was opened.")
      .def_readonly("hits", &orvex::StoreStatistics::hits)
      .def_readonly("misses", &orvex::StoreStatistics::misses)
      .def_readonly("writes", &orvex::StoreStatistics::writes)
      .def_readonly("bytes_read", &orvex::StoreStatistics::bytesRead)
      .def_readonly("bytes_written", &orvex::StoreStatistics::bytesWritten)
      .def_readonly("corrupt", &orvex::StoreStatistics::corrupt, "Entries found damaged, taken as misses and replaced.")
      .def_readonly("evictions", &orvex::StoreStatistics::evictions, "Entries removed to stay within the size limit.")
      .def_readonly("write_failures", &orvex::StoreStatistics::writeFailures);
  py::class_<orvex::CacheStatistics>(module, "CacheStatistics", "What the process's cache did, as the host kit reads it.")
      .def_property_readonly(
          "stages",
          [](const orvex::CacheStatistics& statistics) {
            return std::vector<orvex::StageStatistics>(statistics.stages + orvex::stages::kFirstStage,
                                                       statistics.stages + orvex::stages::kLastStage + 1);
          },
          "Stages 1 to 23, in order.")
      .def_readonly("table_entries", &orvex::CacheStatistics::tableEntries, "Results in the table now.")
      .def_readonly("live_result_bytes", &orvex::CacheStatistics::liveResultBytes,
                    "The pixel bytes live results hold now, approximately.")
      .def_property_readonly(
          "store",
          [](const orvex::CacheStatistics& statistics) -> py::object {
            if (!statistics.storeInstalled) return py::none();
            return py::cast(statistics.store);
          },
          "The store's figures, or None without a store.");

  py::class_<Cache>(module, "Cache",
                    "Parameter sets registered with the library. Every image added runs through each set's tree; "
                    "results equal between sets are computed once. Thread-safe: several Python threads may add "
                    "images at once (the library runs without the GIL).")
      .def(py::init<const py::object&, const py::object&, const py::object&, const py::object&>(),
           py::arg("params") = py::none(), py::arg("store") = py::none(), py::arg("store_limit") = py::none(),
           py::arg("store_key") = py::none(),
           "params: None for the built-in sets, a parameter file's path, or its structure as a dict "
           "(default_parameters() gives one); a parameter out of range raises ValueError naming the field. "
           "store: a folder that keeps every result across runs and processes (a missing or empty folder "
           "becomes a store, marked by its CACHEDIR.TAG; a folder holding other files and no tag raises "
           "ValueError); the store serves every Cache of the process, and a process uses one folder. "
           "store_limit: its size limit in bytes on disk (default 10 GiB). store_key: the path of a key file "
           "(1 to 4096 bytes): entries are then tagged with HMAC-SHA256 under the key, and only entries whose "
           "tag verifies are used.")
      .def_property_readonly("set_names", &Cache::SetNames, "The parameter sets' names, in file order.")
      .def_property_readonly("store", &Cache::StoreFolder, "The result store's folder, or None.")
      .def("add", &Cache::Add, py::arg("pixels_or_path"), py::arg("name") = py::none(),
           "Adds an image to every set and computes its regions and line segments. pixels_or_path: a uint8 "
           "array H x W, H x W x 3 (BGR, as OpenCV reads) or H x W x 4 (BGRA), any strides, of at most as many "
           "pixels as image files may have (100 megapixels unless the host changed the limit); or a PNG or "
           "JPEG file's path as str, bytes or os.PathLike, in any encoding. name: what Image.name and the "
           "summary call the image (str or bytes; default the path as given, or 'array'). Returns an Image; "
           "use it in a with block. Raises TypeError or ValueError for other arrays (ValueError, with the "
           "numbers, for one over the pixel limit, checked before anything is copied), OSError for a missing "
           "or unreadable file (its filename the path as given), ValueError for a file that is not an image "
           "or too large, or for a path no file can have.")
      .def("_summary_of_file", &Cache::SummaryOfFile, py::arg("path"),
           "The tool's --jsonl line for a file, with the line's own key names: its summary, or "
           "{'image', 'skipped'} with the reason.")
      .def("_statistics", &Cache::Statistics,
           "What the process's cache did, as a CacheStatistics; Cache.statistics() gives it as a dict.");
}
