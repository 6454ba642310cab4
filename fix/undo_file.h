// The undo file of one fix: a registry export ("Windows Registry Editor
// Version 5.00", 8-bit text) that puts back everything the fix changed.
//
// The file has the layout the profile (INI) functions gave it when each
// entry was written through them: a key is a section named by its key path
// text, a value is an entry whose name is the value's .reg name and whose
// text is its .reg data, each section's entries in the order they were
// saved, sections in the order of their first entry. Those functions reread
// and rewrite the whole file for every entry, which made a fix of thousands
// of problems quadratic, and each implementation matches names by rules of
// its own; so the file is written here, with the same bytes. Every entry is
// one write at the end of the file, under its section's header when the
// file does not end in that section already (an importer takes a key's
// lines wherever its header appears); when that repeated a header,
// FinishUndoFile writes the file once more, grouped, and puts it in place
// of the first whole.
//
// The file exists to restore the machine as it was before the fix, so:
// - every fix gets a file of its own (a name already taken gets a suffix);
// - the first state saved for a key or value in a run is the one kept: a
//   value changed twice in a run is restored to its state before the first
//   change, whichever of the key's names (see key_alias.h) each change used;
// - every saved key has its section header, values or not;
// - a saving reports failure unless all of it reached the file, and the
//   repairs change nothing they could not save.
#pragma once

#include "regfile/value_text.h"
#include "registry/key_alias.h"
#include "registry/reg_key.h"

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

class CUndoFile {
public:
    // Empty when no file could be created; then m_dwCreateError says why.
    std::string m_path;
    DWORD m_dwCreateError = ERROR_SUCCESS;
    // The code of the last write to the file that failed (or the create
    // error, when a save found no file); 0 while all went in.
    DWORD m_dwSaveError = ERROR_SUCCESS;

    bool IsOpen() const { return !m_path.empty(); }

    // What this run has saved, by StateId: the profile functions match
    // sections and entries without regard to case.
    std::set<std::string> m_savedSections;
    std::set<std::string> m_savedEntries;
    KeyAliasFacts m_aliases;

    // What the file holds, section by section in the order of their first
    // entry: the section's name as first written and its lines, each ending
    // in CR LF. Sections are found by their upper-cased names.
    struct Section {
        std::string name;
        std::string lines;
    };
    std::vector<Section> m_sections;
    std::map<std::string, size_t> m_sectionIndex;
    // The section the file ends in, and whether the file must be written
    // again, grouped: a header was repeated, or a write failed.
    size_t m_lastWritten = static_cast<size_t>(-1);
    bool m_rewrite = false;
};

// One text for a key, or for a value of it (with `valueName`), whichever
// alias names the key: its backing key's path, upper-cased.
std::string KeyStateId(const CUndoFile& undo, const std::string& keyPath);
std::string ValueStateId(const CUndoFile& undo, const std::string& keyPath,
                         const std::string& valueName);

// Creates a new undo file named by the local date and time in the folder
// Undo\Hivemender beside the plug-in (creating the folders) and writes the
// header into it.
CUndoFile CreateUndoFile();

// Saves the key, its values and its whole subtree, depth first. 0 when all
// of it is in the file; 2 when the key is gone; otherwise the failure's code.
LONG ExportKeyToUndo(RegKey& key, CUndoFile& undo);

// Writes the file grouped by section when an entry repeated a header (or a
// write failed, which may have left part of it in the file): into
// a new file that then takes its place, so that a process killed meanwhile
// leaves the first file, which restores the same. A failure leaves that file
// too, and is no failure of the fix.
void FinishUndoFile(CUndoFile& undo);

// Saves one value of the key. 0 when it is in the file (now or from earlier
// in this run), 2 when there is no such value, otherwise the failure's code.
LONG ExportValueToUndo(const RegKey& key, const std::string& valueName, CUndoFile& undo);

// The undo file's .reg text comes from the one writer of .reg value text.
using regfile::FormatRegDword;
using regfile::FormatRegString;
using regfile::FormatRegValueName;

// The whole .reg data text of a value as the undo file stores it: on one
// line, string types widened through the machine's ANSI code page.
std::string FormatRegData(DWORD type, const BYTE* data, DWORD size);
