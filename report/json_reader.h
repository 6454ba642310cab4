// Reading the request text a host hands to Start.
//
// This is not a general JSON parser and must not become one: hosts send flat
// objects of quoted names and quoted values ({"0": "fix", "2": "fix"}), and
// they rely on how looser text is read too. A name is whatever stands before
// the next colon, stripped of braces, quotes and commas; a value is the next
// double-quoted text (escapes kept as written) or a bracketed text taken up
// to the first "]" outside quotes. Nothing is ever reported as an error: text
// of another shape yields odd or missing members.
#pragma once

#include "report/json_object.h"

#include <windows.h>

#include <string>
#include <string_view>

// Adds the request's members to `request` with SetString, so values are
// trimmed and a repeated name keeps its first place and takes the later value.
void ParseRequest(std::string_view requestText, JsonObject& request);

// The host's UTF-16 request as 8-bit text in the thread's ANSI code page;
// empty for a null or unconvertible request.
std::string RequestTextFromWide(LPCWSTR request);
