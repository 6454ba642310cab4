// Report calls the fix shares with the scan report; they move to report/
// when it lands there.
#pragma once

#include <string>

class CHivemender;

// Hands the report text, in UTF-16, to the host's result callback if set.
void EmitReport(CHivemender& engine, const std::string& reportText);

// The profile folder name of the user whose hive holds the key path; empty
// when there is none.
std::string GetUserNameForKeyPath(CHivemender& engine, const std::string& keyPath);
