// Filling JsonObjects and turning them into the report text hosts receive.
//
// The output is one line: {"name": "value", "array": [{...},{...}]} and a
// line feed. Hosts parse these bytes, so the spacing, the member order and the
// minimal escaping are a contract: only double quotes in string values get a
// backslash; backslashes (as in registry paths), control characters and bytes
// above 127 pass through, and a value that starts with "[" is written bare.
#pragma once

#include "base/text.h"
#include "report/json_object.h"

#include <windows.h>

#include <string>
#include <string_view>

// Stores the value without leading and trailing white space.
void SetString(JsonObject& object, std::string_view name, std::string_view value);

// Stores the decimal text of the number ("-12", "0").
void SetInt64(JsonObject& object, std::string_view name, LONGLONG number);

// Stores the elements' texts joined by bare commas inside "[" and "]".
void SetArray(JsonObject& object, std::string_view name, const JsonObjectArray& array);

// One member as the object's text holds it, `"name": "value"`, after `out`;
// members are parted by ", ".
void AppendMemberText(std::string& out, std::string_view name, std::string_view value);

// The object's JSON text ending in one line feed; the empty text (not "{}")
// for an object without members.
std::string Serialize(const JsonObject& object);

using base::WideText;

// The report in UTF-16, as the host's result callback takes it: converted
// with the thread's ANSI code page; empty when the text is empty or cannot be
// converted.
WideText ReportToWide(const std::string& reportText);
