// exclude KEYPATH, exclude --list and exclude --remove KEYPATH: the engine
// reads regkeys.txt beside the plug-in afresh at every scan.
#include "host/commands.h"
#include "host/exclusion_file.h"
#include "host/platform.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

namespace host {
namespace {

std::string ExclusionFilePath(const std::string& pluginPath) {
    return LocalPathFor(PluginWindowsFolder(pluginPath)) + "/regkeys.txt";
}

// New files of saves that died before their rename. Called under the
// machine's lock, so no other process is writing one.
void RemoveAbandonedSaves(const std::string& path) {
    namespace fs = std::filesystem;
    const std::string prefix = fs::path(path).filename().string() + ".new-";
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(fs::path(path).parent_path(), ignored)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            fs::remove(entry.path(), ignored);
    }
}

// A new file beside the old one, then renamed over it: the engine never
// reads half a list.
bool Save(const std::string& path, const ExclusionFile& file, std::string* error) {
    RemoveAbandonedSaves(path);
    const std::string temporary =
        path + ".new-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << SerializeExclusionFile(file);
        if (!out.flush()) {
            out.close();
            std::remove(temporary.c_str());
            *error = "cannot write " + temporary;
            return false;
        }
    }
    if (ReplaceFile(temporary, path, error))
        return true;
    std::remove(temporary.c_str());
    return false;
}

} // namespace

int RunExclude(const Options& options, const std::string& pluginPath) {
    const std::string path = ExclusionFilePath(pluginPath);
    // A missing file is an empty list, and adding a key makes it.
    std::string bytes;
    std::error_code ignored;
    if (!ReadFileBytes(path, &bytes) && std::filesystem::exists(path, ignored))
        return Fail("cannot read " + path);
    ExclusionFile file = ParseExclusionFile(bytes);
    if (options.excludeList) {
        for (const std::string& key : ExcludedKeys(file))
            std::cout << key << "\n";
        return kExitOk;
    }
    std::string error;
    const bool adding = options.excludeRemove.empty();
    const std::string& key = adding ? options.excludeKey : options.excludeRemove;
    if (adding && !AddExclusion(&file, key)) {
        std::cout << "already excluded: " << key << "\n";
        return kExitOk;
    }
    if (!adding && !RemoveExclusion(&file, key))
        return Fail(key + " is not excluded (see hivemender exclude --list)");
    if (!Save(path, file, &error))
        return Fail(error);
    std::cout << (adding ? "excluded: " : "no longer excluded: ") << key << "\n";
    return kExitOk;
}

} // namespace host
