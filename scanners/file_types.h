// The shell registrations a class key of the classes root may carry (an
// extension, a ProgID, a CLSID, "*" or "Folder"): its icon, its verbs and
// their commands, its shell extension handlers and its "New" menu template.
// None of these checks tests the stop flag or waits while paused: the walk
// that calls them does both between class keys.
#pragma once

#include <span>
#include <string>

struct CEngineState;
class RegKey;

// Runs the four checks below on one open class key, unless it is excluded.
// Returns 1.
int ScanClassKey(CEngineState& engine, const RegKey& classKey);

// "DefaultIcon": the icon's file (a path with an icon index is tested on its
// path).
void CheckDefaultIcon(CEngineState& engine, const RegKey& classKey);
// "Shell": a key without verbs, and each verb.
void CheckShellVerbs(CEngineState& engine, const RegKey& classKey);
// One verb: its "Command" runs a program that exists, or hands the verb to a
// registered class through "DelegateExecute".
void CheckShellVerb(CEngineState& engine, const RegKey& verbKey);
// "ShellEx": every leaf below it that names a handler by CLSID.
void CheckShellExtensions(CEngineState& engine, const RegKey& classKey);
// "ShellNew": the program that makes a new file ("Commmand", spelt as the
// shell reads it) or the template file it copies ("FileName").
void CheckShellNew(CEngineState& engine, const RegKey& classKey);

// The rules for the values of "ShellNew" (as read, expanded): the command
// runs a missing program (`file`; `command` marked as the problem record
// wants it), or the template file, named bare or by full path, is missing.
bool ShellNewCommandIsBroken(std::string& command, std::string& file);
bool TemplateFileIsMissing(const std::string& fileName);

// The folders a "ShellNew" template named without a folder is looked for
// in: the Windows folder's ShellNew, the user's and the common templates
// folders. Filled on first use and kept for the process, in byte order.
std::span<const std::string> TemplateDirectories();
