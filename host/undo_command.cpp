// undo FILE, undo --last and undo --list.
#include "host/commands.h"
#include "host/platform.h"
#include "host/report_table.h"
#include "regfile/regfile.h"

#include "base/owned_handle.h"

#include <windows.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>
#include <tuple>

namespace host {
namespace {

// The time stamp and the attempt number that order undo files.
std::tuple<std::string, int, std::string> OrderOf(const std::string& name) {
    std::string stem = name.size() > 4 ? name.substr(0, name.size() - 4) : name;
    int attempt = 1;
    const size_t open = stem.rfind(" (");
    if (open != std::string::npos && stem.back() == ')') {
        attempt = std::atoi(stem.c_str() + open + 2);
        stem.resize(open);
    }
    return {stem, attempt, name};
}

// "2026-12-06 10:18:00" from the file's name, or the name itself.
std::string DateOf(const std::string& name) {
    std::string date = std::get<0>(OrderOf(name));
    if (date.size() == 19 && date[13] == '.' && date[16] == '.')
        date[13] = date[16] = ':';
    return date;
}

bool ParseUndoFile(const std::string& bytes, const std::string& name, regfile::Script* script,
                   std::string* error) {
    return regfile::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), name, script, error);
}

size_t ValueCount(const regfile::Script& script) {
    size_t values = 0;
    for (const auto& key : script.keys)
        values += key.values.size();
    return values;
}

// An undo file only puts back what a fix took away; a file that deletes
// anything is someone else's, and importing it could wipe a whole hive.
std::string FirstDeletion(const regfile::Script& script) {
    for (const auto& key : script.keys) {
        if (key.remove)
            return "deletes the key " + key.keyPath;
        for (const auto& value : key.values) {
            if (value.remove)
                return "deletes the value \"" + value.name + "\" of " + key.keyPath;
        }
    }
    return {};
}

int Restore(const std::string& undoFile, bool force) {
    std::string said, error;
    if (!RestoreUndoFile(undoFile, force, &said, &error))
        return Fail(error);
    std::cout << said << "\n";
    return kExitOk;
}

// One line per undo file: when its fix ran, its size and what it restores.
int List(const std::string& folder) {
    const std::vector<UndoFileInfo> files = DescribeUndoFiles(folder);
    if (files.empty()) {
        std::cerr << "no undo files in " << LocalPathFor(folder) << "\n";
        return kExitOk;
    }
    std::cout << "date                 bytes     keys  values  file\n";
    for (const UndoFileInfo& file : files) {
        std::cout << PadToWidth(file.date, 21) << PadToWidth(std::to_string(file.bytes), 10)
                  << PadToWidth(file.keys, 6) << PadToWidth(file.values, 8) << file.path << "\n";
    }
    return kExitOk;
}

} // namespace

bool ReadFileBytes(const std::string& path, std::string* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream content;
    content << in.rdbuf();
    *bytes = content.str();
    return true;
}

bool RestoreUndoFile(const std::string& undoFile, bool force, std::string* said,
                     std::string* error) {
    std::string bytes;
    if (!ReadFileBytes(LocalPathFor(undoFile), &bytes)) {
        *error = "cannot read " + undoFile;
        return false;
    }
    if (bytes.empty()) {
        // A fix stopped before it saved anything leaves its undo file empty,
        // and having saved nothing it changed nothing.
        *said = "nothing to restore: " + undoFile + " is empty";
        return true;
    }
    regfile::Script script;
    if (!ParseUndoFile(bytes, undoFile, &script, error))
        return false;
    if (const std::string deletion = FirstDeletion(script); !deletion.empty()) {
        *error = undoFile + " is not an undo file: it " + deletion;
        return false;
    }
    std::vector<std::string> keyPaths;
    for (const regfile::KeyOp& key : script.keys)
        keyPaths.push_back(key.keyPath);
    if (!MachineAcceptsChanges(force, keyPaths, error))
        return false;
    if (regfile::Apply(script, error) != ERROR_SUCCESS) {
        *error = "restoring " + undoFile + ": " + *error;
        return false;
    }
    if (!SaveMachine(error))
        return false;
    *said = "restored " + std::to_string(script.keys.size()) + " keys and " +
            std::to_string(ValueCount(script)) + " values from " + undoFile;
    return true;
}

std::vector<UndoFileInfo> DescribeUndoFiles(const std::string& folder) {
    std::vector<UndoFileInfo> files;
    for (const std::string& name : UndoFiles(folder)) {
        UndoFileInfo file{name, LocalPathFor(folder + "\\" + name), DateOf(name), 0, "?", "?"};
        std::string bytes, error;
        regfile::Script script;
        if (ReadFileBytes(file.path, &bytes) &&
            (bytes.empty() || ParseUndoFile(bytes, name, &script, &error))) {
            file.keys = std::to_string(script.keys.size());
            file.values = std::to_string(ValueCount(script));
        }
        file.bytes = bytes.size();
        files.push_back(std::move(file));
    }
    return files;
}

std::string UndoFolder(const std::string& pluginPath) {
    return PluginWindowsFolder(pluginPath) + "\\Undo\\Hivemender";
}

bool UndoFileIsOlder(const std::string& a, const std::string& b) {
    return OrderOf(a) < OrderOf(b);
}

std::vector<std::string> UndoFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    Orvel::TFindHandle find(FindFirstFileA((folder + "\\*.reg").c_str(), &data));
    if (!find)
        return names;
    do {
        names.push_back(data.cFileName);
    } while (FindNextFileA(find.Get(), &data));
    std::sort(names.begin(), names.end(), UndoFileIsOlder);
    return names;
}

int RunUndo(const Options& options, const std::string& pluginPath) {
    const std::string folder = UndoFolder(pluginPath);
    if (options.undoList)
        return List(folder);
    if (!options.undoLast)
        return Restore(options.undoFile, options.force);
    const std::vector<std::string> names = UndoFiles(folder);
    if (names.empty())
        return Fail("no undo file to restore in " + LocalPathFor(folder));
    return Restore(LocalPathFor(folder + "\\" + names.back()), options.force);
}

} // namespace host
