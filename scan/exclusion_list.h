// Keys the user keeps out of every scan, and the walk filter of the two
// software walks.
//
// The user lists key path texts in "regkeys.txt" beside the plug-in, one a
// line, optionally ending in "=LOCKED" or "=BLOCKED"; "HKEY_USERS\*\" stands
// for every user hive. An entry excludes exactly one key: a walking scanner
// keeps a whole subtree out only because it does not descend below a key it
// skipped.
//
// Each engine holds its own list, so two engines may scan at once. The list
// is emptied when a scan starts and read afresh from the file at the first
// test of that scan, so edits to the file take effect at the next scan.
#pragma once

#include <set>
#include <string>

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
    // One line of the file: upper-cased, markers cut, a backslash appended,
    // the user wildcard expanded. Comments, section headers, lines starting
    // with a space and empty lines add nothing.
    void AddLine(std::string line);
    // Whether the key path text (as KeyPathText gives it, no trailing
    // backslash; any letter case) names an excluded key. Loads `filePath`
    // first when the list is empty.
    bool IsExcluded(const std::string& keyPathText, const std::string& filePath);

    bool IsEmpty() const { return m_entries.empty(); }
    // Upper case, each with a trailing backslash, in byte order.
    const std::set<std::string>& Entries() const { return m_entries; }

private:
    void AddForEveryUserHive(const std::string& entry);
    void Insert(std::string entry);

    std::set<std::string> m_entries;
    // The entries' lengths: upper-casing keeps a text's length, so a key path
    // of any other length is no entry, and the walks test every key they meet.
    std::set<size_t> m_lengths;
};

// Where the engine reads its exclusions: "regkeys.txt" in the plug-in's
// folder; empty when that folder cannot be known.
std::string ExclusionFilePath();

// The engine's list, by the names its callers use.
bool LoadExclusionList(CEngineState& engine);
void AddExclusionLine(CEngineState& engine, const std::string& line);
void ClearExclusionList(CEngineState& engine);
bool IsExcluded(CEngineState& engine, const std::string& keyPathText);

// The software walks' filter. True when the key is to be examined and walked
// below: not excluded, and inside the walk's area. Mode 0 walks the user
// hives (leaving each hive's sound-event schemes to their own scanner),
// mode 1 the machine's SOFTWARE key (leaving the areas with a scanner of
// their own, m_sectionPaths, to those scanners).
enum WalkMode : int { WalkUserHives = 0, WalkMachineSoftware = 1 };
bool ShouldWalkKey(const RegKey& key, CEngineState& engine, int mode);
