// exclude KEYPATH, exclude --list and exclude --remove KEYPATH: the engine
// reads regkeys.txt beside the plug-in afresh at every scan.
#include "base/file_read.h"
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

std::string Shown(const std::string& ansiLine) {
    ExclusionFile one;
    one.lines.push_back(ansiLine);
    return Utf8Line(one, 0);
}

// A missing file is an empty list, and adding a key makes it.
bool Load(const std::string& path, ExclusionFile* file, std::string* error) {
    std::string bytes;
    std::error_code ignored;
    if (!base::ReadHostFile(path, &bytes) && std::filesystem::exists(path, ignored)) {
        *error = "cannot read " + path;
        return false;
    }
    *file = ParseExclusionFile(bytes);
    return true;
}

} // namespace

bool ReadExclusions(const std::string& pluginPath, std::vector<std::string>* keys,
                    std::string* error) {
    ExclusionFile file;
    if (!Load(ExclusionFilePath(pluginPath), &file, error))
        return false;
    *keys = ExcludedKeys(file);
    return true;
}

// Adds or removes the line of `keyPath` (as a person types it): one read,
// one edit, one replacing write.
bool ChangeExclusions(const std::string& pluginPath, const std::string& keyPath, bool add,
                      std::string* said, std::string* error) {
    const std::string path = ExclusionFilePath(pluginPath);
    ExclusionFile file;
    if (!Load(path, &file, error))
        return false;
    const std::string line = ExclusionLine(keyPath, CurrentUserSid(), error);
    if (line.empty())
        return false;
    const std::string shown = Shown(line);
    const size_t covering = CoveringLine(file, line);
    if (add && covering < file.lines.size()) {
        *said = "already excluded: " + shown;
        return true;
    }
    if (add) {
        AppendLine(&file, line);
    } else if (RemoveLines(&file, line) == 0) {
        *error = covering < file.lines.size()
                     ? shown + " is excluded by the line " + Utf8Line(file, covering) +
                           ", which keeps its whole subtree out"
                     : shown + " is not excluded (see hivemender exclude --list)";
        return false;
    }
    if (!Save(path, file, error))
        return false;
    *said = (add ? "excluded: " : "no longer excluded: ") + shown;
    return true;
}

int RunExclude(const Options& options, const std::string& pluginPath) {
    std::string error, said;
    if (options.excludeList) {
        std::vector<std::string> keys;
        if (!ReadExclusions(pluginPath, &keys, &error))
            return Fail(error);
        for (const std::string& key : keys)
            std::cout << key << "\n";
        return kExitOk;
    }
    const bool adding = options.excludeRemove.empty();
    const std::string keyPath = Utf8FromArgument(adding ? options.excludeKey : options.excludeRemove);
    if (!ChangeExclusions(pluginPath, keyPath, adding, &said, &error))
        return Fail(error);
    std::cout << said << "\n";
    return kExitOk;
}

} // namespace host
