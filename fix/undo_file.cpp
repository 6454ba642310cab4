#include "fix/undo_file.h"

#include "base/common_library.h"

#include <mbstring.h>

#include <cstdio>
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

std::string UpperCased(std::string text) {
    std::vector<unsigned char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    _mbsupr_s(buffer.data(), buffer.size());
    return std::string(reinterpret_cast<const char*>(buffer.data()));
}

std::string EntryId(const std::string& section, const std::string& entryName) {
    return UpperCased(section) + "\n" + UpperCased(entryName);
}

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

bool IsOneLineString(const BYTE* data, DWORD size) {
    if (size == 0 || data[size - 1] != 0)
        return false;
    for (DWORD i = 0; i + 1 < size; ++i) {
        if (data[i] == 0 || data[i] == '\r' || data[i] == '\n')
            return false;
    }
    return true;
}

std::vector<BYTE> Utf16BytesOf(const BYTE* data, DWORD size) {
    std::vector<BYTE> bytes;
    if (size == 0)
        return bytes;
    const char* text = reinterpret_cast<const char*>(data);
    int units = MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), nullptr, 0);
    std::vector<WCHAR> wide(units > 0 ? static_cast<size_t>(units) : 0);
    if (units <= 0 ||
        MultiByteToWideChar(CP_ACP, 0, text, static_cast<int>(size), wide.data(), units) != units) {
        // Not text in the code page after all: widen byte by byte.
        wide.assign(data, data + size);
    }
    for (WCHAR unit : wide) {
        bytes.push_back(static_cast<BYTE>(unit & 0xFF));
        bytes.push_back(static_cast<BYTE>(unit >> 8));
    }
    return bytes;
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

LONG WriteEntry(const std::string& section, const std::string& entryName, const std::string& data,
                const CUndoFile& undo) {
    if (WritePrivateProfileStringA(section.c_str(), entryName.c_str(), data.c_str(),
                                   undo.m_path.c_str()))
        return ERROR_SUCCESS;
    return static_cast<LONG>(FailureCode(GetLastError()));
}

// A key without values must still come back on restore, so its section
// needs a header line. Writing an empty section does not give one everywhere
// (Wine writes nothing for a section that does not exist yet), but every
// implementation keeps a section whose last entry is deleted.
LONG WriteBareSection(const std::string& section, const CUndoFile& undo) {
    const std::string placeholder = std::string(kPlaceholderEntry) + "=" + '\0';
    if (!WritePrivateProfileSectionA(section.c_str(), placeholder.c_str(), undo.m_path.c_str()))
        return static_cast<LONG>(FailureCode(GetLastError()));
    if (!WritePrivateProfileStringA(section.c_str(), kPlaceholderEntry, nullptr,
                                    undo.m_path.c_str()))
        return static_cast<LONG>(FailureCode(GetLastError()));
    return ERROR_SUCCESS;
}

LONG ExportValues(RegKey& key, DWORD longestName, CUndoFile& undo) {
    std::vector<char> name(longestName + 2, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG status = RegEnumValueA(key.Handle(), index, name.data(), &length, nullptr, nullptr,
                                    nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        status = ExportValueToUndo(key, std::string(name.data(), length), undo);
        // A value deleted behind our back has nothing left to save.
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return status;
    }
}

LONG ExportSubkeys(RegKey& key, DWORD longestName, CUndoFile& undo) {
    std::vector<char> name(longestName + 2, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        LONG status = RegEnumKeyExA(key.Handle(), index, name.data(), &length, nullptr, nullptr,
                                    nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (status != ERROR_SUCCESS)
            return status;
        RegKey child;
        status = key.OpenChild(std::string(name.data(), length), child);
        if (status == ERROR_SUCCESS)
            status = ExportKeyToUndo(child, undo);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            return status;
    }
}

} // namespace

CUndoFile CreateUndoFile() {
    CUndoFile undo;
    const std::string folder = Orvel::PathCombineA(
        Orvel::PathCombineA(Orvel::GetModulePathNameA(EngineModule()), "Undo"), "Hivemender");
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
        return static_cast<LONG>(FailureCode(undo.m_dwCreateError));
    DWORD subkeys = 0, longestSubkey = 0, values = 0, longestValueName = 0;
    LONG status =
        RegQueryInfoKeyA(key.Handle(), nullptr, nullptr, nullptr, &subkeys, &longestSubkey, nullptr,
                         &values, &longestValueName, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    const std::string section = key.KeyPathText();
    const bool isNewSection = undo.m_savedSections.insert(UpperCased(section)).second;
    const size_t entriesBefore = undo.m_savedEntries.size();
    status = ExportValues(key, longestValueName, undo);
    if (status == ERROR_SUCCESS && isNewSection && undo.m_savedEntries.size() == entriesBefore)
        status = WriteBareSection(section, undo);
    if (status != ERROR_SUCCESS)
        return status;
    return ExportSubkeys(key, longestSubkey, undo);
}

LONG ExportValueToUndo(const RegKey& key, const std::string& valueName, CUndoFile& undo) {
    const std::string section = key.KeyPathText();
    const std::string entryName = FormatRegValueName(valueName);
    const std::string id = EntryId(section, entryName);
    // The state before this run's first change is the one to restore.
    if (undo.m_savedEntries.count(id) != 0)
        return ERROR_SUCCESS;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    LONG status = ReadValue(key, valueName, type, data);
    if (status != ERROR_SUCCESS)
        return status;
    if (!undo.IsOpen())
        return static_cast<LONG>(FailureCode(undo.m_dwCreateError));
    status = WriteEntry(section, entryName,
                        FormatRegData(type, data.data(), static_cast<DWORD>(data.size())), undo);
    if (status != ERROR_SUCCESS)
        return status;
    undo.m_savedSections.insert(UpperCased(section));
    undo.m_savedEntries.insert(id);
    return ERROR_SUCCESS;
}

std::string FormatRegString(std::string_view text) {
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + "\"";
}

std::string FormatRegValueName(std::string_view name) {
    if (name.empty())
        return "@";
    // A line break would end the entry inside the name; .reg readers take
    // the \r and \n escapes in names instead.
    std::string quoted;
    for (char c : FormatRegString(name)) {
        if (c == '\r')
            quoted += "\\r";
        else if (c == '\n')
            quoted += "\\n";
        else
            quoted += c;
    }
    return quoted;
}

std::string FormatRegDword(const BYTE* data) {
    const DWORD value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
                        static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    char text[16];
    std::snprintf(text, sizeof(text), "dword:%08lx", static_cast<unsigned long>(value));
    return text;
}

std::string FormatRegHex(std::string_view prefix, const BYTE* data, DWORD size, bool asUtf16) {
    const std::vector<BYTE> bytes =
        asUtf16 ? Utf16BytesOf(data, size) : std::vector<BYTE>(data, data + size);
    std::string text(prefix);
    text.reserve(prefix.size() + bytes.size() * 3);
    for (size_t i = 0; i < bytes.size(); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof(hex), i == 0 ? "%02x" : ",%02x", bytes[i]);
        text += hex;
    }
    return text;
}

std::string FormatRegData(DWORD type, const BYTE* data, DWORD size) {
    if (type == REG_SZ && IsOneLineString(data, size))
        return FormatRegString(std::string_view(reinterpret_cast<const char*>(data), size - 1));
    if (type == REG_SZ)
        return FormatRegHex("hex(1):", data, size, true);
    if (type == REG_DWORD && size == 4)
        return FormatRegDword(data);
    if (type == REG_BINARY)
        return FormatRegHex("hex:", data, size, false);
    char prefix[24];
    std::snprintf(prefix, sizeof(prefix), "hex(%lx):", static_cast<unsigned long>(type));
    return FormatRegHex(prefix, data, size, type == REG_EXPAND_SZ || type == REG_MULTI_SZ);
}
