#include "base/shipped_library.h"

#include "base/common_library.h"
#include "base/text.h"

#include <string>
#include <vector>

namespace {

// Distinct folders only: the host and the plug-in often share one.
std::vector<std::string> ShippingFolders() {
    std::vector<std::string> folders;
    const std::string candidates[] = {Orvel::GetModulePathNameA(EngineModule()),
                                      Orvel::GetModulePathNameA(nullptr),
                                      Orvel::GetSystemDirectoryA()};
    for (const std::string& folder : candidates) {
        bool known = folder.empty(); // an unknown folder would make the name relative
        for (const std::string& earlier : folders)
            known = known || base::EqualNoCase(earlier, folder);
        if (!known)
            folders.push_back(folder);
    }
    return folders;
}

} // namespace

HMODULE LoadShippedLibrary(const char* fileName) {
    for (const std::string& folder : ShippingFolders()) {
        const std::string path = Orvel::PathCombineA(folder, fileName);
        // The altered search lets the library's own imports come from its folder.
        if (HMODULE library = LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
            return library;
    }
    return nullptr;
}
