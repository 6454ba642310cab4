// The problems a person chose are the ones they saw. A problem's id is its
// place in one scan's report, and anything that changes the machine between
// that scan and the fix (another fix, an installer, an edited machine.reg, a
// new key that sorts earlier) moves the ids after it. So the host remembers
// the report each scan printed, and a fix finds every chosen problem again
// by what it is (section, key path, value name, new value) in its own
// fresh scan before it names any id to the engine.
#pragma once

#include "host/report_format.h"

#include <string>
#include <vector>

namespace host {

// Keeps the report a scan showed, beside the machine's undo files, as a new
// file renamed into place. When it cannot be written the previous one is
// removed too, so no fix ever matches against a scan nobody saw.
bool RememberScan(const std::string& pluginPath, const std::string& report, std::string* error);

// The report of the last scan remembered for this machine; false when none.
bool RecallScan(const std::string& pluginPath, std::string* report);

// For each of `chosen` (ids of `seen`), the id of the same problem in
// `fresh`. A problem reported more than once by the same description is
// matched by its rank among its twins. False when any chosen problem is
// missing from `fresh`: `missing` then describes the first such problem.
bool MatchChosen(const Report& seen, const std::vector<int>& chosen, const Report& fresh,
                 std::vector<int>* freshIds, std::string* missing);

// The key paths of the problems `ids` of `report`: the keys a fix of them
// writes, so the hives that must accept a change.
std::vector<std::string> KeyPathsOf(const Report& report, const std::vector<int>& ids);

// The engine's fix request naming these ids of its last scan.
std::string FixRequest(const std::vector<int>& ids);

// "problem 10 (HKEY_CLASSES_ROOT\X, value "V")" for messages.
std::string DescribeProblem(const Members& problem);

} // namespace host
