// undo FILE, undo --last and undo --list.
#include "host/commands.h"
#include "host/platform.h"
#include "host/report_table.h"
#include "host/session.h"
#include "regfile/regfile.h"

#include "base/file_read.h"
#include "base/owned_handle.h"

#include <windows.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

namespace host {
namespace {

// The local time a fix ran, from its undo file's name ("2026-12-06
// 10.18.00 (2).reg" gives "2026-12-06 10:18:00"), or the name itself.
std::string DateOf(const std::string& name) {
    std::string date = name.substr(0, std::min<size_t>(name.size(), 19));
    if (date.size() == 19 && date[13] == '.' && date[16] == '.')
        date[13] = date[16] = ':';
    return date;
}

// The order and the state of the fixes whose undo files are in the folder,
// one line each, oldest first: "fixed<TAB>NAME" once its fix reached the
// machine, "restored TIME<TAB>NAME" once it was put back. Names from the
// local clock do not order fixes (a change of time zone reorders them), and
// an undo file alone does not say whether its fix was ever saved.
constexpr char kJournalName[] = "undo journal.txt";

struct JournalLine {
    std::string name, restored; // restored: when, "" while only fixed
};

std::string JournalPath(const std::string& folder) {
    return LocalPathFor(folder + "\\" + kJournalName);
}

bool ReadJournal(const std::string& folder, std::vector<JournalLine>* lines) {
    std::string bytes;
    if (!base::ReadHostFile(JournalPath(folder), &bytes))
        return false;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            continue;
        const std::string state = line.substr(0, tab);
        lines->push_back({line.substr(tab + 1),
                          state.rfind("restored ", 0) == 0 ? state.substr(9) : ""});
    }
    return true;
}

bool WriteJournal(const std::string& folder, const std::vector<JournalLine>& lines,
                  std::string* error) {
    std::string text;
    for (const JournalLine& line : lines)
        text += (line.restored.empty() ? "fixed" : "restored " + line.restored) + "\t" +
                line.name + "\n";
    std::string why;
    // Its writers hold the machine's lock: one name for the new file serves,
    // and the next write replaces what a killed one left.
    const std::string path = JournalPath(folder);
    if (WriteFileAtomically(path, path + ".new", text, &why))
        return true;
    *error = "the undo journal could not be written (" + why + ")";
    return false;
}

std::filesystem::file_time_type ModifiedAt(const std::string& folder, const std::string& name) {
    std::error_code ignored;
    return std::filesystem::last_write_time(LocalPathFor(folder + "\\" + name), ignored);
}

// The undo files the journal does not hold, by the time they were written.
std::vector<std::string> Unjournaled(const std::string& folder,
                                     const std::vector<JournalLine>& lines) {
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> files;
    for (const std::string& name : UndoFiles(folder)) {
        if (std::none_of(lines.begin(), lines.end(),
                         [&](const JournalLine& line) { return line.name == name; }))
            files.emplace_back(ModifiedAt(folder, name), name);
    }
    std::sort(files.begin(), files.end());
    std::vector<std::string> names;
    for (auto& file : files)
        names.push_back(std::move(file.second));
    return names;
}

// The journal, begun when missing with the undo files already there (made
// before it existed, so taken as fixes that were saved), oldest first.
bool OpenJournal(const std::string& folder, std::vector<JournalLine>* lines, std::string* error) {
    if (ReadJournal(folder, lines))
        return true;
    for (const std::string& name : Unjournaled(folder, *lines))
        lines->push_back({name, ""});
    return WriteJournal(folder, *lines, error);
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
    return text;
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

// One line per undo file whose fix reached the machine: when it ran, its
// size, what it restores and whether it was restored.
int List(const std::string& folder) {
    size_t unfinished = 0;
    const std::vector<UndoFileInfo> files = DescribeUndoFiles(folder, &unfinished);
    if (unfinished != 0)
        std::cerr << "not listed: " << unfinished
                  << " undo files whose fix never reached the machine\n";
    if (files.empty()) {
        std::cerr << "no undo files in " << LocalPathFor(folder) << "\n";
        return kExitOk;
    }
    std::cout << "date                 bytes     keys  values  state     file\n";
    for (const UndoFileInfo& file : files) {
        std::cout << PadToWidth(file.date, 21) << PadToWidth(std::to_string(file.bytes), 10)
                  << PadToWidth(file.keys, 6) << PadToWidth(file.values, 8)
                  << PadToWidth(file.state == UndoState::Restored ? "restored" : "fixed", 10)
                  << file.path << "\n";
    }
    return kExitOk;
}

// Restores `undoFile` and, when it is one of the machine's undo files,
// records in the journal that it was restored.
int Restore(const std::string& folder, const std::string& undoFile, bool force) {
    std::string said, error;
    if (!RestoreUndoFile(undoFile, force, &said, &error))
        return Fail(error);
    std::cout << said << "\n";
    const std::string name = std::filesystem::path(undoFile).filename().string();
    std::error_code ignored;
    if (std::filesystem::equivalent(undoFile, LocalPathFor(folder + "\\" + name), ignored) &&
        !RecordInJournal(folder, name, true, &error))
        return Fail("restored, but " + error + ": undo --last may offer this file again");
    return kExitOk;
}

// The newest fix that reached the machine, unless it was restored already:
// then nothing, and the person learns which file came before it.
int RestoreLast(const std::string& folder, bool force) {
    const std::vector<UndoFileInfo> files = DescribeUndoFiles(folder);
    if (files.empty())
        return Fail("no undo file to restore in " + LocalPathFor(folder));
    const UndoFileInfo& newest = files.back();
    if (newest.state != UndoState::Restored)
        return Restore(folder, newest.path, force);
    std::string before = "no fix before it left an undo file";
    if (files.size() > 1) {
        const UndoFileInfo& previous = files[files.size() - 2];
        before = "the one before it is " + previous.path +
                 (previous.state == UndoState::Restored ? " (restored " + previous.restored + ")"
                                                        : " (undo FILE restores it)");
    }
    return Fail("nothing restored: the newest fix was restored on " + newest.restored + " (" +
                newest.path + "); " + before);
}

UndoFileInfo Described(const std::string& folder, const std::string& name, UndoState state,
                       const std::string& restored) {
    UndoFileInfo file{name, LocalPathFor(folder + "\\" + name), DateOf(name), 0, "?", "?",
                      state, restored};
    std::string bytes, error;
    regfile::Script script;
    if (base::ReadHostFile(file.path, &bytes) &&
        (bytes.empty() || ParseUndoFile(bytes, name, &script, &error))) {
        file.keys = std::to_string(script.keys.size());
        file.values = std::to_string(ValueCount(script));
    }
    file.bytes = bytes.size();
    return file;
}

} // namespace

bool RestoreUndoFile(const std::string& undoFile, bool force, std::string* said,
                     std::string* error) {
    std::string bytes;
    if (!base::ReadHostFile(LocalPathFor(undoFile), &bytes)) {
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
    NotePhase("restore");
    if (!SaveMachine(error))
        return false;
    NotePhase("save");
    *said = "restored " + std::to_string(script.keys.size()) + " keys and " +
            std::to_string(ValueCount(script)) + " values from " + undoFile;
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& temporary,
                         const std::string& bytes, std::string* error) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    bool written;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << bytes;
        written = static_cast<bool>(out.flush());
    }
    if (written && ReplaceFile(temporary, path, error))
        return true;
    if (!written)
        *error = "cannot write " + temporary;
    std::remove(temporary.c_str());
    return false;
}

std::vector<UndoFileInfo> DescribeUndoFiles(const std::string& folder, size_t* unfinished) {
    std::vector<JournalLine> lines;
    const bool journaled = ReadJournal(folder, &lines);
    const std::vector<std::string> present = UndoFiles(folder);
    std::vector<UndoFileInfo> files;
    for (const JournalLine& line : lines) {
        if (std::find(present.begin(), present.end(), line.name) != present.end())
            files.push_back(Described(folder, line.name,
                                      line.restored.empty() ? UndoState::Fixed : UndoState::Restored,
                                      line.restored));
    }
    size_t left = 0;
    for (const std::string& name : Unjournaled(folder, lines)) {
        UndoFileInfo file = Described(folder, name, UndoState::Fixed, "");
        // The journal begins before any fix; a file it lacks is a fix whose
        // save never completed (failed, stopped, killed). A live registry
        // has no save: there every entry in the file reached the machine.
        const bool holdsEntry = file.keys != "?" && file.keys != "0";
        if (journaled && !(RegistryIsLive() && holdsEntry))
            ++left;
        else
            files.push_back(std::move(file));
    }
    if (unfinished)
        *unfinished = left;
    return files;
}

bool BeginUndoJournal(const std::string& folder, std::string* error) {
    std::vector<JournalLine> lines;
    return OpenJournal(folder, &lines, error);
}

bool RecordInJournal(const std::string& folder, const std::string& name, bool restored,
                     std::string* error) {
    std::vector<JournalLine> lines;
    if (!OpenJournal(folder, &lines, error))
        return false;
    auto line = std::find_if(lines.begin(), lines.end(),
                             [&](const JournalLine& l) { return l.name == name; });
    if (line == lines.end())
        line = lines.insert(lines.end(), {name, ""});
    line->restored = restored ? UtcNow() : "";
    return WriteJournal(folder, lines, error);
}

std::string UndoFolder(const std::string& pluginPath) {
    return PluginWindowsFolder(pluginPath) + "\\Undo\\Hivemender";
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
    return names;
}

int RunUndo(const Options& options, const std::string& pluginPath) {
    const std::string folder = UndoFolder(pluginPath);
    if (options.undoList)
        return List(folder);
    if (options.undoLast)
        return RestoreLast(folder, options.force);
    return Restore(folder, options.undoFile, options.force);
}

} // namespace host
