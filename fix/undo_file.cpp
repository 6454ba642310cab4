#include "fix/undo_file.h"

#include "base/common_library.h"
#include "base/text.h"
#include "registry/key_walk.h"

#include <mbctype.h>
#include <mbstring.h>

#include <vector>

namespace {

// ERROR_WRITE_FAULT: a write that failed without saying why.
constexpr DWORD kWriteFault = 29;
constexpr char kUndoHeader[] = "Windows Registry Editor Version 5.00\r\n\r\n";
// Names tried after the plain one when fixes follow each other within a second.
constexpr int kMaxNameAttempts = 1000;
// A value that keeps growing while we read it is given up on after this.
constexpr int kMaxReadAttempts = 4;
// Written and removed again to leave a bare section header (see below).
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

// Creates the file only if the name is free and writes the header.
// ERROR_FILE_EXISTS when the name is taken.
DWORD CreateWithHeader(const std::string& path) {
    Orvel::THandle file(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        DWORD error = GetLastError();
        return error == ERROR_ALREADY_EXISTS ? ERROR_FILE_EXISTS : FailureCode(error);
    }
    const DWORD length = sizeof(kUndoHeader) - 1;
    DWORD written = 0;
    if (WriteFile(file.Get(), kUndoHeader, length, &written, nullptr) && written == length)
        return ERROR_SUCCESS;
    DWORD error = FailureCode(GetLastError());
    file.Reset();
    DeleteFileA(path.c_str());
    return error;
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

// The profile functions find sections and entries by name, ignoring case,
// each implementation by its own rules (for letters beyond ASCII too). To
// know where they would put a line without asking them, names are compared
// twice: by a coarse key that every such rule can only tell apart more
// finely (ASCII letters upper-cased, every byte beyond ASCII and the letter
// I, whose Turkish forms are not ASCII, made one byte), and by exact text
// with ASCII letters upper-cased, which every rule takes as equal. A name
// they may cut or trim differently (']' ends a section header; blanks and
// control characters) is not followed at all, nor one with double-byte
// characters, whose case pairs need not share their bytes.
constexpr char kFolded = '\x80';

bool IsFollowableName(const std::string& name) {
    if (name.empty() || name.front() == ' ' || name.back() == ' ')
        return false;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == ']' || _ismbblead(byte))
            return false;
    }
    return true;
}

std::string ExactKey(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string CoarseKey(const std::string& text) {
    std::string key = ExactKey(text);
    for (char& c : key) {
        if (static_cast<unsigned char>(c) >= 0x80 || c == 'I')
            c = kFolded;
    }
    return key;
}

// The name an entry line is found by: the text before its first '='.
std::string EntryKeyOfLine(const std::string& line) {
    std::string key = line.substr(0, line.find('='));
    while (!key.empty() && (key.back() == ' ' || key.back() == '\t'))
        key.pop_back();
    return CoarseKey(key);
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

// Where the profile functions would put a line of `section` whose entry is
// named `entryName`: at the end of the file when the section is new, or when
// it is certainly the last one and holds nothing of that name; through them
// otherwise. `joins` is false for a line that replaces what an existing
// section holds.
enum class Placement { kAppendSection, kAppendLine, kProfile };

bool IsFollowableData(const std::string& data) {
    return data.find_first_of("\r\n") == std::string::npos &&
           (data.empty() || (data.front() != ' ' && data.front() != '\t'));
}

Placement PlaceLine(const CUndoFile& undo, const std::string& section,
                    const std::string& entryName, const std::string& data, bool joins) {
    if (!undo.m_canAppend || !IsFollowableName(section) || !IsFollowableName(entryName) ||
        !IsFollowableData(data))
        return Placement::kProfile;
    const auto coarse = undo.m_coarseSections.find(CoarseKey(section));
    if (coarse == undo.m_coarseSections.end())
        return Placement::kAppendSection;
    if (joins && coarse->second == 1 && ExactKey(section) == undo.m_lastSection &&
        undo.m_lastSectionKeys.count(CoarseKey(entryName)) == 0)
        return Placement::kAppendLine;
    return Placement::kProfile;
}

void NoteNewLastSection(CUndoFile& undo, const std::string& section) {
    ++undo.m_coarseSections[CoarseKey(section)];
    undo.m_lastSection = ExactKey(section);
    undo.m_exactSections.insert(undo.m_lastSection);
    undo.m_lastSectionKeys.clear();
}

// Keeps the picture of the file true after a line went through the profile
// functions, or gives it up when it cannot tell where the line went.
void NoteProfileWrite(CUndoFile& undo, const std::string& section, const std::string& line) {
    if (!undo.m_canAppend)
        return;
    if (!IsFollowableName(section) || !IsFollowableData(line)) {
        undo.m_canAppend = false;
        return;
    }
    if (undo.m_coarseSections.count(CoarseKey(section)) == 0)
        NoteNewLastSection(undo, section);
    else if (undo.m_exactSections.count(ExactKey(section)) == 0)
        undo.m_canAppend = false; // a section of its own, or one of another spelling
    if (CoarseKey(section) == CoarseKey(undo.m_lastSection))
        undo.m_lastSectionKeys.insert(EntryKeyOfLine(line));
}

// Writes `line` ("name=data") into the section, by appending it or through
// the profile call `viaProfile`.
template <class ViaProfile>
LONG WriteLine(const std::string& section, const std::string& entryName, const std::string& data,
               bool joins, CUndoFile& undo, ViaProfile viaProfile) {
    const std::string line = entryName + "=" + data;
    const Placement placement = PlaceLine(undo, section, entryName, data, joins);
    if (placement == Placement::kProfile) {
        // The profile functions may keep the file they last wrote in memory
        // (Wine does, trusting a file time too coarse to see our appends):
        // all four arguments NULL makes them read it afresh.
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, undo.m_path.c_str());
        if (!viaProfile())
            return NoteSaveFailure(undo, GetLastError());
        NoteProfileWrite(undo, section, line);
        return ERROR_SUCCESS;
    }
    std::string bytes = line + "\r\n";
    if (placement == Placement::kAppendSection)
        bytes = "[" + section + "]\r\n" + bytes;
    if (!AppendToFile(undo.m_path, bytes))
        return NoteSaveFailure(undo, GetLastError());
    if (placement == Placement::kAppendSection)
        NoteNewLastSection(undo, section);
    undo.m_lastSectionKeys.insert(EntryKeyOfLine(line));
    return ERROR_SUCCESS;
}

LONG WriteEntry(const std::string& section, const std::string& entryName, const std::string& data,
                CUndoFile& undo) {
    return WriteLine(section, entryName, data, true, undo, [&] {
        return WritePrivateProfileStringA(section.c_str(), entryName.c_str(), data.c_str(),
                                          undo.m_path.c_str()) != FALSE;
    });
}

// A key without values must still come back on restore, so its section
// needs a header line. Writing an empty section does not give one everywhere
// (Wine writes nothing for a section that does not exist yet), so the
// section gets a comment line, which every .reg importer passes over. It is
// one write: an entry written and then deleted again would leave a line no
// importer takes whenever the second write failed or the process died
// between the two.
LONG WriteBareSection(const std::string& section, CUndoFile& undo) {
    const std::string entryName = std::string(";") + kPlaceholderEntry;
    const std::string list = entryName + "=" + '\0';
    return WriteLine(section, entryName, "", false, undo, [&] {
        return WritePrivateProfileSectionA(section.c_str(), list.c_str(), undo.m_path.c_str()) !=
               FALSE;
    });
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
    const std::string stem = Orvel::PathCombineA(folder, DateTimeFileStem());
    for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
        const std::string path = CandidateName(stem, attempt);
        const DWORD status = CreateWithHeader(path);
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
