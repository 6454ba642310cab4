#include "scan/exclusion_list.h"

#include "scan/engine_state.h"
#include "base/common_library.h"
#include "base/file_read.h"
#include "base/text.h"
#include "registry/reg_key.h"
#include "registry/exclusion_format.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

// Three nested redirections of the 32-bit view: never a real key, and a walk
// into it would recurse through the reflection for ever.
constexpr char kBuiltInEntry[] =
    "HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\Wow6432Node\\Wow6432Node\\";
constexpr char kUserWildcard[] = "HKEY_USERS\\*\\";
constexpr char kWildcardStep[] = "\\*\\";
constexpr char kFileName[] = "regkeys.txt";
constexpr REGSAM kRead = 0x20019; // KEY_READ

using base::StartsWithNoCase;

std::string ReplaceAll(const std::string& text, const std::string& what, const std::string& with) {
    std::string replaced;
    size_t from = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
        replaced.append(text, from, at - from).append(with);
        from = at + what.size();
    }
    return replaced.append(text, from, std::string::npos);
}

// The classes root is a view of the machine's classes key: a delete through
// one path removes what an entry names through the other.
std::string BackingEntry(const std::string& entry) {
    constexpr std::string_view classesRoot = "HKEY_CLASSES_ROOT\\";
    if (entry.compare(0, classesRoot.size(), classesRoot) != 0)
        return entry;
    return "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES\\" + entry.substr(classesRoot.size());
}

// Whether `text` may begin with the ASCII `prefix` in some letter case:
// folding changes letters only, so every other byte must be there as it is.
// Most key paths fail at once, before the code page's comparison is asked.
bool MayStartWithNoCase(const std::string& text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        const char folded = static_cast<char>(prefix[i] | 0x20);
        if ((folded < 'a' || folded > 'z') && text[i] != prefix[i])
            return false;
    }
    return true;
}

// The same key through the classes root's other name; "" for a key outside
// the classes.
std::string OtherClassesName(const std::string& keyPathText) {
    static const char kRoot[] = "HKEY_CLASSES_ROOT\\";
    static const char kMachine[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\";
    if (MayStartWithNoCase(keyPathText, kRoot) && StartsWithNoCase(keyPathText, kRoot))
        return kMachine + keyPathText.substr(std::strlen(kRoot));
    if (MayStartWithNoCase(keyPathText, kMachine) && StartsWithNoCase(keyPathText, kMachine))
        return kRoot + keyPathText.substr(std::strlen(kMachine));
    return {};
}

} // namespace

void CExclusionList::Clear() {
    m_entries.clear();
    m_lengths.clear();
    m_hasLastTested = false;
}

void CExclusionList::Insert(std::string entry) {
    m_lengths.insert(entry.size());
    m_entries.insert(std::move(entry));
    m_hasLastTested = false;
}

bool CExclusionList::Load(const std::string& filePath) {
    AddLine(kBuiltInEntry);
    std::string bytes;
    if (filePath.empty() || !base::ReadWholeFile(filePath, &bytes))
        return true;
    const ExclusionFile file = ParseExclusionFile(bytes);
    for (size_t i = 0; i < file.lines.size(); ++i)
        AddLine(EngineLine(file, i));
    return true;
}

void CExclusionList::AddLine(const std::string& line) {
    std::string entry = ExclusionEntry(line);
    if (entry.empty())
        return;
    if (entry.find(kUserWildcard) != std::string::npos)
        AddForEveryUserHive(entry);
    else
        Insert(std::move(entry));
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
        std::string candidate = base::ToUpperMb(ReplaceAll(entry, kWildcardStep, hiveStep));
        // Only hives that hold the key get an entry.
        RegKey probe;
        if (probe.OpenByText(candidate, kRead) == ERROR_SUCCESS)
            Insert(std::move(candidate));
    }
}

bool CExclusionList::IsExcluded(const std::string& keyPathText, const std::string& filePath) {
    if (m_entries.empty())
        Load(filePath);
    if (m_hasLastTested && m_lastTested == keyPathText)
        return m_lastExcluded;
    // An entry keeps its key out by either name: a problem found through
    // one name is repaired through that name, and the key is the same.
    const std::string other = OtherClassesName(keyPathText);
    m_lastExcluded = Covers(keyPathText) || (!other.empty() && Covers(other));
    m_lastTested.assign(keyPathText); // into the room of the last one
    m_hasLastTested = true;
    return m_lastExcluded;
}

bool CExclusionList::Covers(const std::string& keyPathText) const {
    // Only a prefix as long as an entry and ending at a backslash can be
    // one; most keys have none, and are not upper-cased at all.
    const auto endsAnEntry = [&](size_t length) {
        return length == keyPathText.size() + 1 || keyPathText[length - 1] == '\\';
    };
    if (std::none_of(m_lengths.begin(), m_lengths.upper_bound(keyPathText.size() + 1), endsAnEntry))
        return false;
    const std::string key = KeyEntry(keyPathText);
    for (size_t length : m_lengths) {
        if (length > key.size())
            break;
        if (key[length - 1] == '\\' && m_entries.count(std::string_view(key).substr(0, length)) != 0)
            return true;
    }
    return false;
}

bool CExclusionList::HoldsExcludedKey(const std::string& keyPathText) const {
    const std::string key = BackingEntry(KeyEntry(keyPathText));
    for (const std::string& entry : m_entries) {
        const std::string backing = BackingEntry(entry);
        if (backing.size() <= key.size() || !EntryCovers(key, backing))
            continue;
        // In either registry view: the delete may reach the other one.
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            RegKey excluded;
            if (excluded.OpenByText(entry.substr(0, entry.size() - 1), kRead | view) ==
                ERROR_SUCCESS)
                return true;
        }
    }
    return false;
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

bool HoldsExcludedKey(CEngineState& engine, const std::string& keyPathText) {
    if (engine.m_exclusions.IsEmpty())
        LoadExclusionList(engine);
    return engine.m_exclusions.HoldsExcludedKey(keyPathText);
}

bool IsExcluded(CEngineState& engine, const std::string& keyPathText) {
    // The plug-in's folder is looked up when the list is read, once a scan,
    // not at every key tested (a module lookup costs more than the test).
    if (engine.m_exclusions.IsEmpty())
        LoadExclusionList(engine);
    return engine.m_exclusions.IsExcluded(keyPathText, std::string());
}

namespace {

bool ShouldWalkUserKey(HKEY root, const std::string& path) {
    if (root != HKEY_USERS)
        return false;
    // Each hive's sound-event schemes belong to the sound-event scanner.
    const size_t hiveEnd = path.find('\\');
    if (hiveEnd == std::string::npos || path.find('\\', hiveEnd + 1) == std::string::npos)
        return true;
    return !StartsWithNoCase(path.substr(hiveEnd + 1), "AppEvents\\Schemes\\Apps");
}

bool ShouldWalkMachineKey(HKEY root, const std::string& path, const CEngineState& engine) {
    if (root != HKEY_LOCAL_MACHINE || !StartsWithNoCase(path, "SOFTWARE"))
        return false;
    if (!StartsWithNoCase(path, "SOFTWARE\\Microsoft\\Windows"))
        return true;
    // A prefix test: the Run entry keeps out RunOnce and RunServices too.
    for (const auto& [section, areaPath] : engine.m_sectionPaths) {
        if (StartsWithNoCase(path, areaPath.c_str()))
            return false;
    }
    return true;
}

} // namespace

bool ShouldWalkKey(const RegKey& key, CEngineState& engine, int mode) {
    return ShouldWalkKey(key.Root(), key.Path(), engine, mode);
}

bool ShouldWalkKey(HKEY root, const std::string& path, CEngineState& engine, int mode) {
    if (IsExcluded(engine, KeyPathText(root, path)))
        return false;
    switch (mode) {
    case WalkUserHives:
        return ShouldWalkUserKey(root, path);
    case WalkMachineSoftware:
        return ShouldWalkMachineKey(root, path, engine);
    default:
        return false;
    }
}
