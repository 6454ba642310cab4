// Why a scan reports a value, told by the rule that reported it: the rules
// are the scanners' own, so an explanation cannot say other than the scan.
#pragma once

#include <string>

class RegKey;

// The reason the rule of `section` gives, as the machine is now, for
// reporting the value `valueName` of the open `key`: "file: F (missing)",
// "file: F (already registered as "N")", "AppID: A (not registered)", in the
// ANSI code page. Empty when the rule finds nothing wrong with it any more,
// or the section reports no values.
std::string ValueProblemReason(int section, RegKey& key, const std::string& valueName);
