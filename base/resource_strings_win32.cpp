// Windows: string resources come from the module's resource section, which
// windres builds from hivemender.rc.
#include "base/common_library.h"

std::string Orvel::LoadStringA(unsigned int id, HMODULE module) {
    char buffer[4096];
    int length = ::LoadStringA(module, id, buffer, sizeof(buffer));
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}
