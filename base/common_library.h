// The common-library calls the engine relies on: path joining, the module's
// folder, resource strings, the system folders, file-system redirection,
// local time and folder creation. All text is narrow (ANSI code page).
#pragma once

#include "base/owned_handle.h"

#include <windows.h>

#include <cstdint>
#include <string>

namespace Orvel {

// The two parts joined by exactly one backslash, whether or not the first
// ends in one or the second begins with one; an empty first part gives the
// second alone. Used for file-system and registry paths alike.
std::string PathCombineA(const std::string& first, const std::string& second);

// The folder that holds the module's file, without a trailing backslash.
std::string GetModulePathNameA(HMODULE module);

// The string resource `id` of `module`; empty when there is none.
std::string LoadStringA(unsigned int id, HMODULE module);

// The system and Windows folders, read once and kept for the process.
const char* GetSystemDirectoryA();
const char* GetWindowsDirectoryA();

// Switches file-system redirection off for the calling thread. False where
// the system has no redirection; then nothing is to be restored.
int Wow64DisableWow64FsRedirection(PVOID* oldValue);
int Wow64RevertWow64FsRedirection(PVOID oldValue);

// The local time packed as decimal digits YYYYMMDDhhmmssmmm, the form
// FormatDateTimeA takes.
int64_t GetLocalTime();

// "YYYY/MM/DD hh:mm:ss" (with milliseconds appended as ".mmm" when
// `withMilliseconds`).
std::string FormatDateTimeA(int64_t localTime, bool withMilliseconds);

// Creates the folder and any missing parents; 0 when the folder exists
// afterwards, else the Win32 error of the failing step.
DWORD CreateDirectoryA(const std::string& path);

} // namespace Orvel

// The module that holds the engine's code (the plug-in library).
HMODULE EngineModule();
