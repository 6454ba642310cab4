#include "scan/exclusion_list.h"

#include "scan/engine_state.h"
#include "base/common_library.h"
#include "registry/reg_key.h"
#include "scan/mb_case.h"

#include <mbstring.h>

#include <cstring>

namespace {

// Three nested redirections of the 32-bit view: never a real key, and a walk
// into it would recurse through the reflection for ever.
constexpr char kBuiltInEntry[] =
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Wow6432Node\\Wow6432Node\\";
constexpr char kUserWildcard[] = "HKEY_USERS\\*\\";
constexpr char kWildcardStep[] = "\\*\\";
constexpr char kFileName[] = "regkeys.txt";
// Lines are read into a 1024-byte buffer: a longer line is cut and ends the file.
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

// The whole file as the runtime's text mode would hand it over: CR LF read
// as LF. False when the file cannot be opened.
bool ReadTextFile(const std::string& path, std::string& text) {
    Orvel::THandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return false;
    std::string raw;
    char chunk[4096];
    DWORD read = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &read, nullptr) && read > 0)
        raw.append(chunk, read);
    text = ReplaceAll(raw, "\r\n", "\n");
    return true;
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
}

bool CExclusionList::Load(const std::string& filePath) {
    AddLine(kBuiltInEntry);
    std::string text;
    if (!ReadTextFile(filePath, text))
        return true;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        // A line is handled as the C text it was read into.
        line.resize(std::strlen(line.c_str()));
        if (end - start > kMaxLineLength) {
            line.resize(std::min(line.size(), kMaxLineLength));
            AddLine(std::move(line));
            break;
        }
        AddLine(std::move(line));
        start = end + 1;
    }
    return true;
}

void CExclusionList::AddLine(std::string line) {
    line = ToUpperMb(std::move(line));
    if (IsIgnoredLine(line))
        return;
    CutAtMarker(line);
    if (line.empty() || line.back() != '\\')
        line += '\\';
    if (line.find(kUserWildcard) != std::string::npos)
        AddForEveryUserHive(line);
    else
        m_entries.insert(std::move(line));
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
            m_entries.insert(std::move(candidate));
    }
}

bool CExclusionList::IsExcluded(const std::string& keyPathText, const std::string& filePath) {
    if (m_entries.empty())
        Load(filePath);
    if (m_entries.empty())
        return false;
    return m_entries.count(ToUpperMb(keyPathText) + "\\") != 0;
}

std::string ExclusionFilePath() {
    return Orvel::PathCombineA(Orvel::GetModulePathNameA(EngineModule()), kFileName);
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
    return engine.m_exclusions.IsExcluded(keyPathText, ExclusionFilePath());
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
