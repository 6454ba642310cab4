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

// A new file beside the old one, then renamed over it: the engine never
// reads half a list.
bool Save(const std::string& path, const ExclusionFile& file, std::string* error) {
    const std::string temporary =
        path + ".new-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << SerializeExclusionFile(file);
        if (!out.flush()) {
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
bool ReadList(const std::string& path, ExclusionFile* file) {
    std::string bytes;
    std::error_code ignored;
    if (!ReadFileBytes(path, &bytes) && std::filesystem::exists(path, ignored))
        return false;
    *file = ParseExclusionFile(bytes);
    return true;
}

// Adds or removes the line of `keyPath` (as ExclusionKeyPath gives it) in
// the file at `path`: one read, one edit, one replacing write.
int EditExclusions(const std::string& path, const std::string& keyPath, bool adding) {
    ExclusionFile file;
    if (!ReadList(path, &file))
        return Fail("cannot read " + path);
    std::string error;
    const std::string line = ExclusionLine(keyPath, CurrentUserSid(), &error);
    if (line.empty())
        return Fail(error);
    const std::string shown = Shown(line);
    const size_t covering = CoveringLine(file, line);
    if (adding && covering < file.lines.size()) {
        std::cout << "already excluded: " << shown << "\n";
        return kExitOk;
    }
    if (adding) {
        AppendLine(&file, line);
    } else if (RemoveLines(&file, line) == 0) {
        if (covering < file.lines.size())
            return Fail(shown + " is excluded by the line " + Utf8Line(file, covering) +
                        ", which keeps its whole subtree out");
        return Fail(shown + " is not excluded (see hivemender exclude --list)");
    }
    if (!Save(path, file, &error))
        return Fail(error);
    std::cout << (adding ? "excluded: " : "no longer excluded: ") << shown << "\n";
    return kExitOk;
}

} // namespace

int RunExclude(const Options& options, const std::string& pluginPath) {
    const std::string path = ExclusionFilePath(pluginPath);
    if (!options.excludeList) {
        const bool adding = options.excludeRemove.empty();
        return EditExclusions(
            path, Utf8FromArgument(adding ? options.excludeKey : options.excludeRemove), adding);
    }
    ExclusionFile file;
    if (!ReadList(path, &file))
        return Fail("cannot read " + path);
    for (const std::string& key : ExcludedKeys(file))
        std::cout << key << "\n";
    return kExitOk;
}

} // namespace host
