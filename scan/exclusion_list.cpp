#include "scan/exclusion_list.h"

#include "scan/engine_state.h"
#include "base/common_library.h"
#include "registry/reg_key.h"
#include "scan/mb_case.h"

#include <mbstring.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Three nested redirections of the 32-bit view: never a real key, and a walk
// into it would recurse through the reflection for ever.
constexpr char kBuiltInEntry[] =
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Wow6432Node\\Wow6432Node\\";
constexpr char kUserWildcard[] = "HKEY_USERS\\*\\";
constexpr char kWildcardStep[] = "\\*\\";
constexpr char kFileName[] = "regkeys.txt";
// Lines are read into a 1024-byte buffer: a longer line is cut to fit.
constexpr size_t kMaxLineLength = 1023;
constexpr REGSAM kRead = 0x20019; // KEY_READ

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.c_str());
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
    return _mbsnbicmp(Bytes(text), reinterpret_cast<const unsigned char*>(prefix),
                      std::strlen(prefix)) == 0;
}

std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    std::string replaced;
    size_t from = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
        replaced.append(text, from, at - from).append(with);
        from = at + what.size();
    }
    return replaced.append(text, from, std::string::npos);
}

// The file's bytes. False when there is no file of that name to read: none,
// an unreadable one, or a folder.
bool ReadWholeFile(const std::string& path, std::string& bytes) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    Orvel::THandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    return true;
}

bool StartsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::strlen(prefix), prefix) == 0;
}

std::string WideToAnsi(const std::vector<WCHAR>& wide) {
    if (wide.empty())
        return {};
    const int count = static_cast<int>(wide.size());
    const int size =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.data(), count, ansi.data(), size, nullptr, nullptr);
    return ansi;
}

// UTF-16 code units from `from` on; an odd last byte is dropped.
std::vector<WCHAR> Utf16Units(const std::string& bytes, size_t from, bool bigEndian) {
    std::vector<WCHAR> wide;
    for (size_t at = from; at + 1 < bytes.size(); at += 2) {
        const auto first = static_cast<unsigned char>(bytes[at]);
        const auto second = static_cast<unsigned char>(bytes[at + 1]);
        wide.push_back(static_cast<WCHAR>(bigEndian ? first << 8 | second : second << 8 | first));
    }
    return wide;
}

std::vector<WCHAR> Utf8Units(const std::string& bytes, size_t from) {
    const int count = static_cast<int>(bytes.size() - from);
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + from, count, nullptr, 0);
    std::vector<WCHAR> wide(static_cast<size_t>(size > 0 ? size : 0));
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data() + from, count, wide.data(), size);
    return wide;
}

// The text in the ANSI code page, whichever of Notepad's encodings it was
// saved in: its byte-order mark says which; without one it is ANSI already.
std::string DecodeToAnsi(const std::string& bytes) {
    if (StartsWith(bytes, "\xFF\xFE"))
        return WideToAnsi(Utf16Units(bytes, 2, false));
    if (StartsWith(bytes, "\xFE\xFF"))
        return WideToAnsi(Utf16Units(bytes, 2, true));
    if (StartsWith(bytes, "\xEF\xBB\xBF"))
        return WideToAnsi(Utf8Units(bytes, 3));
    return bytes;
}

// CR LF, LF and a lone CR each end a line: editors write all three.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// A line is handled as the C text it was read into: up to a NUL byte, and
// cut after 1023 bytes. The lines after a long one still count.
std::string AsReadLine(std::string line) {
    line.resize(std::min(line.size(), kMaxLineLength));
    line.resize(std::strlen(line.c_str()));
    return line;
}

// Multibyte-aware: in a double-byte code page a trail byte can equal '\\'.
bool EndsWithBackslash(const std::string& text) {
    const unsigned char* last = _mbsrchr(Bytes(text), '\\');
    return last != nullptr && last[1] == '\0';
}

bool IsIgnoredLine(const std::string& line) {
    return line.empty() || line[0] == ';' || line[0] == '[' || line[0] == ' ';
}

void CutAtMarker(std::string& line) {
    size_t marker = line.find("=LOCKED");
    if (marker == std::string::npos)
        marker = line.find("=BLOCKED");
    if (marker != std::string::npos)
        line.resize(marker);
}

} // namespace

void CExclusionList::Clear() {
    m_entries.clear();
    m_lengths.clear();
}

void CExclusionList::Insert(std::string entry) {
    m_lengths.insert(entry.size());
    m_entries.insert(std::move(entry));
}

bool CExclusionList::Load(const std::string& filePath) {
    AddLine(kBuiltInEntry);
    std::string bytes;
    if (filePath.empty() || !ReadWholeFile(filePath, bytes))
        return true;
    for (std::string& line : SplitLines(DecodeToAnsi(bytes)))
        AddLine(AsReadLine(std::move(line)));
    return true;
}

void CExclusionList::AddLine(std::string line) {
    line = ToUpperMb(std::move(line));
    if (IsIgnoredLine(line))
        return;
    CutAtMarker(line);
    if (!EndsWithBackslash(line))
        line += '\\';
    if (line.find(kUserWildcard) != std::string::npos)
        AddForEveryUserHive(line);
    else
        Insert(std::move(line));
}

void CExclusionList::AddForEveryUserHive(const std::string& entry) {
    RegKey users;
    if (users.OpenPath(HKEY_USERS, "", kRead64) != ERROR_SUCCESS)
        return;
    RegKey hive;
    for (LONG status = users.BeginSubkeys(hive); status == ERROR_SUCCESS;
         status = users.NextSubkey(hive)) {
        std::string hiveStep(1, '\\');
        hiveStep.append(hive.LeafName()).push_back('\\');
        std::string candidate = ToUpperMb(ReplaceAll(entry, kWildcardStep, hiveStep));
        // Only hives that hold the key get an entry.
        RegKey probe;
        if (probe.OpenByText(candidate, kRead) == ERROR_SUCCESS)
            Insert(std::move(candidate));
    }
}

bool CExclusionList::IsExcluded(const std::string& keyPathText, const std::string& filePath) {
    if (m_entries.empty())
        Load(filePath);
    if (m_lengths.count(keyPathText.size() + 1) == 0)
        return false;
    return m_entries.count(ToUpperMb(keyPathText) + "\\") != 0;
}

std::string ExclusionFilePath() {
    // Without the plug-in's folder (a path too long to read) a bare file name
    // would be looked for in whatever folder the host runs in.
    const std::string folder = Orvel::GetModulePathNameA(EngineModule());
    return folder.empty() ? std::string() : Orvel::PathCombineA(folder, kFileName);
}

bool LoadExclusionList(CEngineState& engine) {
    return engine.m_exclusions.Load(ExclusionFilePath());
}

void AddExclusionLine(CEngineState& engine, const std::string& line) {
    engine.m_exclusions.AddLine(line);
}

void ClearExclusionList(CEngineState& engine) {
    engine.m_exclusions.Clear();
}

bool IsExcluded(CEngineState& engine, const std::string& keyPathText) {
    // The plug-in's folder is looked up when the list is read, once a scan,
    // not at every key tested (a module lookup costs more than the test).
    if (engine.m_exclusions.IsEmpty())
        LoadExclusionList(engine);
    return engine.m_exclusions.IsExcluded(keyPathText, std::string());
}

namespace {

bool ShouldWalkUserKey(const RegKey& key) {
    if (key.m_hRoot != HKEY_USERS)
        return false;
    // Each hive's sound-event schemes belong to the sound-event scanner.
    const std::string& path = key.m_path;
    const size_t hiveEnd = path.find('\\');
    if (hiveEnd == std::string::npos || path.find('\\', hiveEnd + 1) == std::string::npos)
        return true;
    return !StartsWithNoCase(path.substr(hiveEnd + 1), "AppEvents\\Schemes\\Apps");
}

bool ShouldWalkMachineKey(const RegKey& key, const CEngineState& engine) {
    if (key.m_hRoot != HKEY_LOCAL_MACHINE || !StartsWithNoCase(key.m_path, "SOFTWARE"))
        return false;
    if (!StartsWithNoCase(key.m_path, "SOFTWARE\\Microsoft\\Windows"))
        return true;
    // A prefix test: the Run entry keeps out RunOnce and RunServices too.
    for (const auto& [section, areaPath] : engine.m_sectionPaths) {
        if (StartsWithNoCase(key.m_path, areaPath.c_str()))
            return false;
    }
    return true;
}

} // namespace

bool ShouldWalkKey(const RegKey& key, CEngineState& engine, int mode) {
    if (IsExcluded(engine, key.KeyPathText()))
        return false;
    switch (mode) {
    case WalkUserHives:
        return ShouldWalkUserKey(key);
    case WalkMachineSoftware:
        return ShouldWalkMachineKey(key, engine);
    default:
        return false;
    }
}
