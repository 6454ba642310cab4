#include "fix/undo_file.h"

#include "base/common_library.h"
#include "base/text.h"
#include "registry/key_walk.h"

#include <vector>

namespace {

// ERROR_WRITE_FAULT: a write that failed without saying why.
constexpr DWORD kWriteFault = 29;
constexpr char kUndoHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
// Names tried after the plain one when fixes follow each other within a second.
constexpr int kMaxNameAttempts = 1000;
// A value that keeps growing while we read it is given up on after this.
constexpr int kMaxReadAttempts = 4;
// The comment line of a key saved without values (see below).
constexpr char kPlaceholderEntry[] = "hivemender-placeholder";

// "2026/12/06 10:15:03" is no file name: slashes become dashes and colons dots.
std::string DateTimeFileStem() {
    std::string text = Orvel::FormatDateTimeA(Orvel::GetLocalTime(), false);
    for (char& c : text) {
        if (c == '/')
            c = '-';
        else if (c == ':')
            c = '.';
    }
    return text;
}

std::string CandidateName(const std::string& stem, int attempt) {
    if (attempt == 1)
        return stem + ".reg";
    return stem + " (" + std::to_string(attempt) + ").reg";
}

DWORD FailureCode(DWORD error) {
    return error != ERROR_SUCCESS ? error : kWriteFault;
}

// Creates the file (`disposition` CREATE_NEW: only if the name is free) and
// writes the bytes; nothing is left of it when they do not all go in.
// ERROR_FILE_EXISTS when the name is taken.
DWORD CreateWithBytes(const std::string& path, DWORD disposition, const std::string& bytes) {
    Orvel::THandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : FailureCode(error);
    }
    const auto length = static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (WriteFile(file.Get(), bytes.data(), length, &written, nullptr) && written == length)
        return ERROR_SUCCESS;
    DWORD error = FailureCode(GetLastError());
    file.Reset();
    DeleteFileA(path.c_str());
    return error;
}

// The name the grouped file is written under before it takes the undo
// file's place. Not "*.reg": a listing of undo files never shows it.
std::string GroupedFileName(const std::string& undoPath) {
    return undoPath + ".grouping";
}

// A process killed while it grouped its file leaves the grouped copy behind
// (its undo file is whole); so does one whose rename failed. A writer still
// at work whose copy goes loses nothing either: its rename fails, and its
// undo file stays as it was appended.
void RemoveAbandonedGroupings(const std::string& folder) {
    WIN32_FIND_DATAA found;
    Orvel::TFindHandle find(FindFirstFileA(Orvel::PathCombineA(folder, "*.reg.grouping").c_str(), &found));
    if (!find)
        return;
    do {
        DeleteFileA(Orvel::PathCombineA(folder, found.cFileName).c_str());
    } while (FindNextFileA(find.Get(), &found));
}

// Reads a value as stored. 2 when it does not exist.
LONG ReadValue(const RegKey& key, const std::string& name, DWORD& type, std::vector<BYTE>& data) {
    DWORD size = 0;
    LONG status = RegQueryValueExA(key.Handle(), name.c_str(), nullptr, &type, nullptr, &size);
    for (int attempt = 0; status == ERROR_SUCCESS || status == ERROR_MORE_DATA; ++attempt) {
        if (attempt == kMaxReadAttempts)
            return ERROR_MORE_DATA;
        // Exactly the reported size: given more room, a string stored without
        // its terminator comes back with one added.
        data.assign(size + 1, 0);
        DWORD length = size;
        status = RegQueryValueExA(key.Handle(), name.c_str(), nullptr, &type, data.data(), &length);
        if (status == ERROR_SUCCESS) {
            data.resize(length);
            return ERROR_SUCCESS;
        }
        size = length;
    }
    return status;
}

// Remembers why the old state could not be saved, for the fix's report.
LONG NoteSaveFailure(CUndoFile& undo, DWORD error) {
    undo.m_dwSaveError = FailureCode(error);
    return static_cast<LONG>(undo.m_dwSaveError);
}

// One write at the end of the file: a write either reaches the file whole or
// fails, as a profile write does.
bool AppendToFile(const std::string& path, const std::string& bytes) {
    Orvel::THandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    if (WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size())
        return true;
    const DWORD error = FailureCode(GetLastError());
    file.Reset();
    SetLastError(error);
    return false;
}

// Puts `line` into the section: one write at the end of the file, with the
// section's header unless the file ends in that section.
LONG WriteLine(const std::string& section, const std::string& line, CUndoFile& undo) {
    const auto [found, isNew] =
        undo.m_sectionIndex.emplace(base::ToUpperMb(section), undo.m_sections.size());
    const size_t index = found->second;
    const bool needsHeader = index != undo.m_lastWritten;
    std::string bytes = line + "\r\n";
    if (needsHeader)
        bytes = "[" + section + "]\r\n" + bytes;
    if (!AppendToFile(undo.m_path, bytes)) {
        if (isNew)
            undo.m_sectionIndex.erase(found);
        // A disk may keep part of a failed write: the file is written again
        // from what went in whole.
        undo.m_rewrite = true;
        return NoteSaveFailure(undo, GetLastError());
    }
    if (isNew)
        undo.m_sections.push_back({section, {}});
    else if (needsHeader)
        undo.m_rewrite = true;
    undo.m_sections[index].lines += line + "\r\n";
    undo.m_lastWritten = index;
    return ERROR_SUCCESS;
}

LONG WriteEntry(const std::string& section, const std::string& entryName, const std::string& data,
                CUndoFile& undo) {
    return WriteLine(section, entryName + "=" + data, undo);
}

// A key without values must still come back on restore, so its section
// needs a header line; it gets a comment line, which every .reg importer
// passes over (the line the profile functions gave it, written as a section
// of one entry).
LONG WriteBareSection(const std::string& section, CUndoFile& undo) {
    return WriteLine(section, std::string(";") + kPlaceholderEntry + "=", undo);
}

// Saves the values of every key it enters; a key without values still
// gets its section.
class UndoExporter : public KeyVisitor {
public:
    explicit UndoExporter(CUndoFile& undo) : m_undo(undo) {}

    LONG EnterKey(RegKey& key, const std::string&) override {
        std::vector<std::string> names;
        LONG status = ReadValueNames(key.Handle(), names);
        if (status != ERROR_SUCCESS)
            return status;
        const std::string section = key.KeyPathText();
        const bool isNewSection = m_undo.m_savedSections.insert(KeyStateId(m_undo, section)).second;
        const size_t entriesBefore = m_undo.m_savedEntries.size();
        for (const std::string& name : names) {
            status = ExportValueToUndo(key, name, m_undo);
            // A value deleted behind our back has nothing left to save.
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return status;
        }
        if (!isNewSection || m_undo.m_savedEntries.size() != entriesBefore)
            return ERROR_SUCCESS;
        status = WriteBareSection(section, m_undo);
        // Not in the file, so not saved: a later export must try again.
        if (status != ERROR_SUCCESS)
            m_undo.m_savedSections.erase(KeyStateId(m_undo, section));
        return status;
    }

private:
    CUndoFile& m_undo;
};

} // namespace

CUndoFile CreateUndoFile() {
    CUndoFile undo;
    undo.m_aliases = CurrentKeyAliasFacts();
    // No folder when the plug-in's path does not fit MAX_PATH: joined with
    // nothing, "Undo" would name a folder below the host's current one, where
    // nobody would look for the file.
    const std::string moduleFolder = Orvel::GetModulePathNameA(EngineModule());
    if (moduleFolder.empty()) {
        undo.m_dwCreateError = ERROR_FILENAME_EXCED_RANGE;
        return undo;
    }
    const std::string folder =
        Orvel::PathCombineA(Orvel::PathCombineA(moduleFolder, "Undo"), "Hivemender");
    Orvel::CreateDirectoryA(folder);
    RemoveAbandonedGroupings(folder);
    const std::string stem = Orvel::PathCombineA(folder, DateTimeFileStem());
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string path = CandidateName(stem, attempt);
        const DWORD status = CreateWithBytes(path, CREATE_NEW, kUndoHeader);
        if (status == ERROR_SUCCESS) {
            undo.m_path = path;
            return undo;
        }
        undo.m_dwCreateError = status;
        if (status != ERROR_FILE_EXISTS)
            break;
    }
    return undo;
}

LONG ExportKeyToUndo(RegKey& key, CUndoFile& undo) {
    if (!undo.IsOpen())
        return NoteSaveFailure(undo, undo.m_dwCreateError);
    UndoExporter exporter(undo);
    return WalkKeyTree(key, exporter);
}

void FinishUndoFile(CUndoFile& undo) {
    if (!undo.IsOpen() || !undo.m_rewrite)
        return;
    std::string bytes = kUndoHeader;
    for (const CUndoFile::Section& section : undo.m_sections)
        bytes += "[" + section.name + "]\r\n" + section.lines;
    const std::string grouped = GroupedFileName(undo.m_path);
    if (CreateWithBytes(grouped, CREATE_ALWAYS, bytes) != ERROR_SUCCESS)
        return;
    if (MoveFileExA(grouped.c_str(), undo.m_path.c_str(), MOVEFILE_REPLACE_EXISTING))
        undo.m_rewrite = false;
    else
        DeleteFileA(grouped.c_str());
}

LONG ExportValueToUndo(const RegKey& key, const std::string& valueName, CUndoFile& undo) {
    const std::string section = key.KeyPathText();
    const std::string entryName = FormatRegValueName(valueName);
    const std::string id = ValueStateId(undo, section, valueName);
    // The state before this run's first change is the one to restore.
    if (undo.m_savedEntries.count(id) != 0)
        return ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    LONG status = ReadValue(key, valueName, type, data);
    if (status != ERROR_SUCCESS)
        return status;
    if (!undo.IsOpen())
        return NoteSaveFailure(undo, undo.m_dwCreateError);
    status = WriteEntry(section, entryName,
                        FormatRegData(type, data.data(), static_cast<DWORD>(data.size())), undo);
    if (status != ERROR_SUCCESS)
        return status;
    undo.m_savedSections.insert(KeyStateId(undo, section));
    undo.m_savedEntries.insert(id);
    return ERROR_SUCCESS;
}

std::string KeyStateId(const CUndoFile& undo, const std::string& keyPath) {
    return base::ToUpperMb(BackingKeyPath(keyPath, undo.m_aliases));
}

std::string ValueStateId(const CUndoFile& undo, const std::string& keyPath,
                         const std::string& valueName) {
    return KeyStateId(undo, keyPath) + "\n" + base::ToUpperMb(FormatRegValueName(valueName));
}

std::string FormatRegData(DWORD type, const BYTE* data, DWORD size) {
    // regedit on this machine reads the file back: its code page, and each
    // value on the one line of its profile entry.
    constexpr regfile::RegTextStyle kUndoStyle = {false, regfile::TextWidening::AnsiCodePage};
    return regfile::FormatRegValueData(type, data, size, kUndoStyle);
}
