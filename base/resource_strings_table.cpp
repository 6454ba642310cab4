// Shared objects carry no Windows resource section, so outside Windows the
// plug-in answers its string resources from this table, built from the same
// definitions as hivemender.rc.
#include "base/common_library.h"
#include "base/resource_strings.h"

namespace {

struct StringResource {
    unsigned int id;
    const char* text;
};

constexpr StringResource kStrings[] = {
    {IDS_DISPLAY_NAME, HM_DISPLAY_NAME_TEXT},
};

} // namespace

std::string Orvel::LoadStringA(unsigned int id, HMODULE) {
    for (const StringResource& entry : kStrings) {
        if (entry.id == id)
            return entry.text;
    }
    return {};
}
