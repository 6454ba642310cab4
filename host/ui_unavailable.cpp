// The Windows builds have no HTTP server library (Debian's cpp-httplib is a
// Linux library), so `ui` says so instead of serving the page.
#include "host/commands.h"

namespace host {

int RunUi(const Options&, const std::string&, const std::string&, const std::atomic<bool>&) {
    return Fail("ui is not available in this build: it needs the Linux build's HTTP server");
}

} // namespace host
