// Keys the user keeps out of every scan, and the walk filter of the two
// software walks.
//
// The user lists key path texts in "regkeys.txt" beside the plug-in (its
// format: registry/exclusion_format.h). An entry keeps its key and the key's
// whole subtree out of every rule, and no repair deletes a key that holds an
// excluded one.
//
// Each engine holds its own list, so two engines may scan at once. The list
// is emptied when a scan starts and read afresh from the file at the first
// test of that scan, so edits to the file take effect at the next scan.
#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <string_view>

struct CEngineState;
class RegKey;

class CExclusionList {
public:
    // Forgets every entry; the next IsExcluded reloads.
    void Clear();
    // The built-in entry, then the lines of `filePath` (a missing file, a
    // folder and an empty path add nothing more). The file may be ANSI, UTF-8
    // or UTF-16 with a byte-order mark, its lines ending in CR LF, LF or CR.
    // Always true.
    bool Load(const std::string& filePath);
    // One line of the file as the engine reads it, its entry added with the
    // user wildcard expanded. Lines that name no key add nothing.
    void AddLine(const std::string& line);
    // Whether the key path text (as KeyPathText gives it; any letter case)
    // names an excluded key or one below it. Loads `filePath` first when the
    // list is empty.
    bool IsExcluded(const std::string& keyPathText, const std::string& filePath);
    // Whether an existing excluded key lies strictly below the key, through
    // either path of the classes root.
    bool HoldsExcludedKey(const std::string& keyPathText) const;

    bool IsEmpty() const { return m_entries.empty(); }
    // Upper case, each with a trailing backslash, in byte order.
    const std::set<std::string, std::less<>>& Entries() const { return m_entries; }

private:
    bool Covers(const std::string& keyPathText) const;
    void AddForEveryUserHive(const std::string& entry);
    void Insert(std::string entry);

    std::set<std::string, std::less<>> m_entries;
    // The entries' lengths: upper-casing keeps a text's length, so only a
    // prefix of one of these lengths can be an entry, and the walks test
    // every key they meet.
    std::set<size_t> m_lengths;
    // The text tested last and its answer, until the entries change: every
    // finding on a key of many values tests that key again.
    std::string m_lastTested;
    bool m_lastExcluded = false;
    bool m_hasLastTested = false;
};

// Where the engine reads its exclusions: "regkeys.txt" in the plug-in's
// folder; empty when that folder cannot be known.
std::string ExclusionFilePath();

// The engine's list, by the names its callers use.
bool LoadExclusionList(CEngineState& engine);
void AddExclusionLine(CEngineState& engine, const std::string& line);
void ClearExclusionList(CEngineState& engine);
bool IsExcluded(CEngineState& engine, const std::string& keyPathText);
bool HoldsExcludedKey(CEngineState& engine, const std::string& keyPathText);

// The software walks' filter. True when the key is to be examined and walked
// below: not excluded, and inside the walk's area. Mode 0 walks the user
// hives (leaving each hive's sound-event schemes to their own scanner),
// mode 1 the machine's SOFTWARE key (leaving the areas with a scanner of
// their own, m_sectionPaths, to those scanners).
enum WalkMode : int { WalkUserHives = 0, WalkMachineSoftware = 1 };
bool ShouldWalkKey(const RegKey& key, CEngineState& engine, int mode);
// The same for the key `path` below `root`, open or not.
bool ShouldWalkKey(HKEY root, const std::string& path, CEngineState& engine, int mode);
