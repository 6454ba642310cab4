// Profile (INI) files, edited the way Windows edits them: in place.
//
// Windows changes only the lines a write concerns and keeps every other byte
// (text before the first section, blank lines, comments, odd line endings),
// which is what makes an undo file written entry by entry come out exactly
// as expected. New lines end in CR LF. Files are read and written through
// the stand-in's own CreateFileA/ReadFile/WriteFile, so paths follow the
// simulated machine's rules; a name without a folder lives in the Windows
// folder, as on Windows.
#include "codepage.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace {

using win32sim::detail::EqualAnsiNoCase;

constexpr char kNewLine[] = "\r\n";

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string_view TrimLeadingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

// One line of the file: its text and its own line ending ("\r\n", "\n", or
// "" for a last line without one), kept so untouched lines stay byte-exact.
struct Line {
    std::string text;
    std::string ending;
};

std::optional<std::string_view> SectionNameOf(const Line& line) {
    std::string_view text = TrimLeadingBlanks(line.text);
    if (text.empty() || text.front() != '[')
        return std::nullopt;
    text.remove_prefix(1);
    const size_t close = text.find(']');
    return TrimBlanks(text.substr(0, close));
}

// The key of an entry line; lines without '=' hold no key.
std::optional<std::string_view> KeyOf(const Line& line) {
    const size_t equals = line.text.find('=');
    if (equals == std::string::npos)
        return std::nullopt;
    return TrimBlanks(std::string_view(line.text).substr(0, equals));
}

class ProfileFile {
public:
    explicit ProfileFile(const std::string& bytes) {
        size_t start = 0;
        while (start < bytes.size()) {
            const size_t end = bytes.find('\n', start);
            Line line;
            if (end == std::string::npos) {
                line.text = bytes.substr(start);
                start = bytes.size();
            } else {
                line.text = bytes.substr(start, end - start);
                line.ending = "\n";
                if (!line.text.empty() && line.text.back() == '\r') {
                    line.text.pop_back();
                    line.ending = kNewLine;
                }
                start = end + 1;
            }
            m_lines.push_back(std::move(line));
        }
    }

    std::string Bytes() const {
        std::string bytes;
        for (const auto& line : m_lines)
            bytes += line.text + line.ending;
        return bytes;
    }

    std::vector<std::string> SectionNames() const {
        std::vector<std::string> names;
        for (const auto& line : m_lines) {
            if (auto name = SectionNameOf(line))
                names.emplace_back(*name);
        }
        return names;
    }

    // Body of the first section of that name: [first, end) after its header.
    bool FindSection(std::string_view name, size_t* header, size_t* end) const {
        for (size_t i = 0; i < m_lines.size(); ++i) {
            auto found = SectionNameOf(m_lines[i]);
            if (found && EqualAnsiNoCase(*found, name)) {
                *header = i;
                *end = i + 1;
                while (*end < m_lines.size() && !SectionNameOf(m_lines[*end]))
                    ++*end;
                return true;
            }
        }
        return false;
    }

    std::optional<size_t> FindKey(size_t header, size_t end, std::string_view key) const {
        for (size_t i = header + 1; i < end; ++i) {
            auto found = KeyOf(m_lines[i]);
            if (found && EqualAnsiNoCase(*found, key))
                return i;
        }
        return std::nullopt;
    }

    std::vector<std::string> KeysIn(size_t header, size_t end) const {
        std::vector<std::string> keys;
        for (size_t i = header + 1; i < end; ++i) {
            if (auto key = KeyOf(m_lines[i]))
                keys.emplace_back(*key);
        }
        return keys;
    }

    std::string ValueAt(size_t index) const {
        const std::string& text = m_lines[index].text;
        return std::string(std::string_view(text).substr(text.find('=') + 1));
    }

    // Past the last non-blank line of a section body: where new entries go,
    // ahead of the blank lines that separate it from the next section.
    size_t EndOfEntries(size_t header, size_t end) const {
        size_t last = header + 1;
        for (size_t i = header + 1; i < end; ++i) {
            if (!TrimBlanks(m_lines[i].text).empty())
                last = i + 1;
        }
        return last;
    }

    void SetValue(std::string_view section, std::string_view key, std::string_view value) {
        const std::string entry = std::string(key) + "=" + std::string(value);
        size_t header, end;
        if (!FindSection(section, &header, &end)) {
            AppendSection(section, {entry});
            return;
        }
        if (auto index = FindKey(header, end, key)) {
            // The line keeps its own spelling of the key and its ending.
            std::string& text = m_lines[*index].text;
            text = text.substr(0, text.find('=') + 1) + std::string(value);
            return;
        }
        Insert(EndOfEntries(header, end), {entry});
    }

    void DeleteKey(std::string_view section, std::string_view key) {
        size_t header, end;
        if (!FindSection(section, &header, &end))
            return;
        if (auto index = FindKey(header, end, key))
            m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(*index));
    }

    void DeleteSection(std::string_view section) {
        size_t header, end;
        if (FindSection(section, &header, &end))
            m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(header),
                          m_lines.begin() + static_cast<std::ptrdiff_t>(end));
    }

    // Replaces the entries of a section with `entries`, written as given.
    // A missing section is created, but only when there is something to put
    // in it.
    void ReplaceSection(std::string_view section, const std::vector<std::string>& entries) {
        size_t header, end;
        if (!FindSection(section, &header, &end)) {
            if (!entries.empty())
                AppendSection(section, entries);
            return;
        }
        const size_t last = EndOfEntries(header, end);
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(header + 1),
                      m_lines.begin() + static_cast<std::ptrdiff_t>(last));
        Insert(header + 1, entries);
    }

private:
    void Insert(size_t at, const std::vector<std::string>& texts) {
        if (at > 0 && m_lines[at - 1].ending.empty())
            m_lines[at - 1].ending = kNewLine;
        std::vector<Line> lines;
        for (const auto& text : texts)
            lines.push_back(Line{text, kNewLine});
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(at), lines.begin(),
                       lines.end());
    }

    void AppendSection(std::string_view section, const std::vector<std::string>& entries) {
        std::vector<std::string> texts = {"[" + std::string(section) + "]"};
        texts.insert(texts.end(), entries.begin(), entries.end());
        Insert(m_lines.size(), texts);
    }

    std::vector<Line> m_lines;
};

// A bare file name lives in the Windows folder.
std::string FullProfilePath(const char* fileName) {
    const std::string name = fileName;
    if (name.find_first_of("\\/:") != std::string::npos)
        return name;
    char windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(windows, sizeof(windows));
    if (length == 0 || length >= sizeof(windows))
        return name;
    return std::string(windows, length) + "\\" + name;
}

// Reads the whole file; a missing file reads as empty. False (with the last
// error set) only when the file exists but cannot be read.
bool ReadProfileBytes(const std::string& path, std::string* bytes) {
    bytes->clear();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND;
    }
    char chunk[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof(chunk), &got, nullptr) != FALSE) && got > 0)
        bytes->append(chunk, got);
    const DWORD error = GetLastError();
    CloseHandle(file);
    SetLastError(error);
    return ok;
}

// A profile is written whole to "<name>.new-<pid>" and then renamed over the
// old file, so a process killed while it writes leaves the previous
// contents (or no file), never half a file. Windows writes in place; the
// simulated machine is killed far more often, by tests that do so on purpose.
constexpr char kNewSuffix[] = ".new-";

// Temporaries beside `path` whose writer is gone are dropped.
void RemoveAbandonedWrites(const std::string& path) {
    const size_t slash = path.rfind('\\');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "*" + kNewSuffix + "*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::string name = found.cFileName;
        const std::string pid = name.substr(name.rfind(kNewSuffix) + sizeof(kNewSuffix) - 1);
        if (!pid.empty() && pid.find_first_not_of("0123456789") == std::string::npos &&
            ::kill(static_cast<pid_t>(std::stol(pid)), 0) != 0 && errno == ESRCH)
            DeleteFileA((folder + name).c_str());
    } while (FindNextFileA(find, &found));
    FindClose(find);
}

bool WriteProfileBytes(const std::string& path, const std::string& bytes) {
    RemoveAbandonedWrites(path);
    const std::string temporary = path + kNewSuffix + std::to_string(::getpid());
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = bytes.empty() ||
              (WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
               written == bytes.size());
    DWORD error = GetLastError();
    CloseHandle(file);
    if (ok && !MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        ok = false;
        error = GetLastError();
    }
    if (!ok)
        DeleteFileA(temporary.c_str());
    SetLastError(error);
    return ok;
}

// Loads, edits and stores a profile file. Windows rewrites the file even when
// nothing changed, creating it if it was missing.
template <class Edit> BOOL EditProfile(LPCSTR fileName, Edit edit) {
    if (!fileName || !*fileName) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const std::string path = FullProfilePath(fileName);
    std::string bytes;
    if (!ReadProfileBytes(path, &bytes))
        return FALSE;
    ProfileFile profile(bytes);
    if (!edit(profile))
        return TRUE;
    return WriteProfileBytes(path, profile.Bytes()) ? TRUE : FALSE;
}

// Copies `text` into the caller's buffer, cut to fit with its terminator.
DWORD CopyOut(std::string_view text, LPSTR buffer, DWORD size) {
    if (size == 0)
        return 0;
    const size_t count = text.size() < size - 1 ? text.size() : size - 1;
    if (count > 0)
        std::memcpy(buffer, text.data(), count);
    buffer[count] = 0;
    return static_cast<DWORD>(count);
}

// A list of names, each with its terminator, and a final extra terminator.
// Cut to fit, the list keeps both terminators and returns size - 2.
DWORD CopyOutList(const std::vector<std::string>& names, LPSTR buffer, DWORD size) {
    std::string list;
    for (const auto& name : names)
        list += name + '\0';
    if (size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = 0;
        return static_cast<DWORD>(list.size() ? list.size() : 0);
    }
    std::memcpy(buffer, list.data(), size - 2);
    buffer[size - 2] = 0;
    buffer[size - 1] = 0;
    return size - 2;
}

// A value as read: blanks trimmed at both ends, then one pair of enclosing
// double quotes removed.
std::string_view ReadableValue(std::string_view raw) {
    std::string_view value = TrimBlanks(raw);
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        value = value.substr(1, value.size() - 2);
    return value;
}

} // namespace

extern "C" {

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName) {
    if (!lpAppName) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return EditProfile(lpFileName, [&](ProfileFile& profile) {
        if (!lpKeyName)
            profile.DeleteSection(lpAppName);
        else if (!lpString)
            profile.DeleteKey(lpAppName, lpKeyName);
        else
            profile.SetValue(lpAppName, lpKeyName, TrimLeadingBlanks(lpString));
        return true;
    });
}

BOOL WINAPI WritePrivateProfileSectionA(LPCSTR lpAppName, LPCSTR lpString, LPCSTR lpFileName) {
    if (!lpAppName) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::vector<std::string> entries;
    for (const char* p = lpString; p && *p; p += std::strlen(p) + 1)
        entries.emplace_back(p);
    return EditProfile(lpFileName, [&](ProfileFile& profile) {
        if (!lpString) {
            profile.DeleteSection(lpAppName);
            return true;
        }
        size_t header, end;
        if (entries.empty() && !profile.FindSection(lpAppName, &header, &end))
            return false; // nothing to write, and no file is created
        profile.ReplaceSection(lpAppName, entries);
        return true;
    });
}

DWORD WINAPI GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                      LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
    const std::string_view fallback =
        lpDefault ? TrimBlanks(std::string_view(lpDefault)) : std::string_view();
    std::string bytes;
    if (!lpFileName || !*lpFileName || !ReadProfileBytes(FullProfilePath(lpFileName), &bytes))
        bytes.clear();
    const ProfileFile profile(bytes);
    if (!lpAppName)
        return CopyOutList(profile.SectionNames(), lpReturnedString, nSize);
    size_t header, end;
    const bool hasSection = profile.FindSection(lpAppName, &header, &end);
    if (!lpKeyName) {
        return CopyOutList(hasSection ? profile.KeysIn(header, end) : std::vector<std::string>(),
                           lpReturnedString, nSize);
    }
    std::optional<size_t> index;
    if (hasSection)
        index = profile.FindKey(header, end, lpKeyName);
    if (!index)
        return CopyOut(fallback, lpReturnedString, nSize);
    const std::string raw = profile.ValueAt(*index);
    return CopyOut(ReadableValue(raw), lpReturnedString, nSize);
}

} // extern "C"
