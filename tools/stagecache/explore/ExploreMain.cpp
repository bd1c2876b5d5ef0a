#include "ExploreMain.h"

#include "ExploreServer.h"
#include "ExploreSession.h"
#include "ImageList.h"
#include "StopSignals.h"

#include <OrvexStagecacheHost.h>
#include <orvex/hostkit/FileResultStore.h>
#include <orvex/hostkit/ParameterSets.h>
#include <orvex/hostkit/ProcessPool.h>

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace stagecache {
namespace explore {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoImages = 3;

const char kUsage[] =
    "usage: stagecache explore [options] [IMAGE|FOLDER ...]\n"
    "\n"
    "Serves a page to tune parameter sets live in the browser: the images with each set's\n"
    "regions and line segments drawn over them, a panel per set with every mode list and\n"
    "field, and after every edit the new overlay with what it cost per stage (results\n"
    "computed, reused from another tree, loaded from the store). Only what an edit changes\n"
    "is computed again. Without images it shows the built-in scene. It prints the page's\n"
    "address with an access token; only requests that carry the token are answered.\n"
    "\n"
    "options:\n"
    "  --params FILE   the parameter sets to start from (default: the two built-in sets);\n"
    "                  the page's Save writes the edited sets back to FILE (created when\n"
    "                  missing); without it the page offers them for download\n"
    "  --store DIR     keep every result in DIR and take results found there: an image\n"
    "                  shown again, or after a restart, loads its results\n"
    "  --bind ADDR     listen on ADDR, an address of this machine (default 127.0.0.1); the\n"
    "                  browser must then use http://ADDR:PORT, as requests must name it\n"
    "  --port N        listen on port N (default 0: any free port)\n"
    "  --help          show this text\n"
    "\n"
    "Ctrl-C stops the server (exit code 0). Exit codes: 1 the server could not listen, 2\n"
    "bad options or parameter file, 3 no images.\n";

struct Options {
  std::string paramsFile;
  std::string storeDir;
  std::string bind = "127.0.0.1";
  int port = 0;
  bool help = false;
  std::vector<std::string> inputs;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string& target) {
      if (i + 1 >= argc || (argv[i + 1][0] == '-' && argv[i + 1][1] == '-')) {
        std::cerr << "stagecache explore: " << arg << " needs a value\n";
        return false;
      }
      target = argv[++i];
      return true;
    };
    if (arg == "--params") {
      if (!value(options.paramsFile)) return false;
    } else if (arg == "--store") {
      if (!value(options.storeDir)) return false;
    } else if (arg == "--bind") {
      if (!value(options.bind)) return false;
      if (options.bind.empty() || options.bind == "0.0.0.0" || options.bind == "::") {
        std::cerr << "stagecache explore: --bind needs the address the browser will use, not '" << options.bind
                  << "' (every request must name it as its Host)\n";
        return false;
      }
    } else if (arg == "--port") {
      std::string text;
      if (!value(text)) return false;
      char* end = nullptr;
      errno = 0;
      const long port = std::strtol(text.c_str(), &end, 10);
      if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || *end != '\0' || errno != 0 || port > 65535) {
        std::cerr << "stagecache explore: --port needs a number from 0 to 65535, not '" << text << "'\n";
        return false;
      }
      options.port = static_cast<int>(port);
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::cerr << "stagecache explore: unknown option " << arg << "\n";
      return false;
    } else {
      options.inputs.push_back(arg);
    }
  }
  return true;
}

}  // namespace

int ExploreMain(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "see stagecache explore --help\n";
    return kExitUsage;
  }
  if (options.help) {
    std::cout << kUsage;
    return kExitOk;
  }
  std::vector<ParameterSet> sets = orvex::hostkit::DefaultParameterSets();
  if (!options.paramsFile.empty()) {
    struct stat info;
    if (stat(options.paramsFile.c_str(), &info) != 0 && errno == ENOENT) {
      std::cerr << "stagecache explore: " << options.paramsFile
                << " does not exist yet: starting from the built-in sets; Save writes it\n";
    } else {
      try {
        sets = orvex::hostkit::LoadParameterSets(options.paramsFile);
      } catch (const orvex::hostkit::ParameterError& error) {
        std::cerr << "stagecache explore: " << error.what() << "\n";
        return kExitUsage;
      }
    }
  }

  std::vector<InputFile> inputs;
  if (options.inputs.empty()) inputs.push_back({"built-in scene", std::string(), true});
  for (InputFile& input : ExpandInputs(options.inputs)) {
    if (input.problem.empty()) inputs.push_back(std::move(input));
    else std::cerr << "stagecache explore: skipping " << input.path << ": " << input.problem << "\n";
  }
  if (inputs.empty()) {
    std::cerr << "stagecache explore: no images: the folders given hold no .png, .jpg or .jpeg files\n";
    return kExitNoImages;
  }

  // Before any thread starts: every thread then leaves Ctrl-C to the watching one.
  StopSignals signals;
  std::shared_ptr<orvex::hostkit::FileResultStore> store;
  if (!options.storeDir.empty()) {
    orvex::hostkit::StoreOptions storeOptions;
    storeOptions.warn = [](const std::string& text) { std::cerr << "stagecache explore: " << text << "\n"; };
    store = std::make_shared<orvex::hostkit::FileResultStore>(options.storeDir, storeOptions);
    orvex::hostkit::InstallResultStore(store);
  }
  bool served = false;
  {
    ImageList images(std::move(inputs));
    ExploreSession session(images, std::move(sets), options.paramsFile, store.get());
    ExploreServer server(session);
    const int port = server.Bind(options.bind, options.port);
    if (port < 0) {
      std::cerr << "stagecache explore: cannot listen on " << options.bind << " port " << options.port << ": "
                << std::strerror(errno) << "\n";
      return kExitFailure;
    }
    const AccessGuard guard(options.bind, port);
    std::cout << "stagecache explore: " << images.Size() << (images.Size() == 1 ? " image, " : " images, ")
              << session.State()["sets"].size() << " parameter sets; open\n  " << guard.PageAddress()
              << "\nCtrl-C stops it.\n"
              << std::flush;
    signals.Watch([&server] { server.Stop(); });
    served = server.Serve(guard);
    signals.Finish();
  }
  if (!served) {
    std::cerr << "stagecache explore: the server could not listen on " << options.bind << "\n";
    return kExitFailure;
  }
  std::cerr << "stagecache explore: stopped\n";
  return kExitOk;
}

}  // namespace explore
}  // namespace stagecache
