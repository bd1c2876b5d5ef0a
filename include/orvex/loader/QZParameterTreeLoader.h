// The tree loader: registered tree groups by name and the cache of trees by name.
#ifndef ORVEX_LOADER_QZPARAMETERTREELOADER_H
#define ORVEX_LOADER_QZPARAMETERTREELOADER_H

#include <orvex/Export.h>

namespace orvex {

class ORVEX_EXPORT QZParameterTreeLoader {
 public:
  QZParameterTreeLoader() = default;
  QZParameterTreeLoader(const QZParameterTreeLoader&) = delete;
  QZParameterTreeLoader& operator=(const QZParameterTreeLoader&) = delete;
};

}  // namespace orvex

#endif
