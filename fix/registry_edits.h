// The three repairs a fix applies: delete a key with everything below it,
// delete a value, overwrite a value with corrected text. Each saves what it
// is about to change into the run's undo file first and changes nothing
// unless that saving succeeded in full.
//
// Keys are named by key path text (HKEY_LOCAL_MACHINE\SOFTWARE\...) and
// opened in the 64-bit view. Every result is a Win32 status: 0 done, 2 the
// key or value is already gone (nothing to do), anything else a failure with
// the registry as it was. An empty value name is the key's default value.
#pragma once

#include "fix/undo_file.h"

#include <windows.h>

#include <string>

LONG DeleteKeyWithUndo(const std::string& keyPath, CUndoFile& undo);
LONG DeleteValueWithUndo(CUndoFile& undo, const std::string& keyPath, const std::string& valueName);
// Writes `newValue` as a string of `type` (REG_SZ or REG_EXPAND_SZ).
LONG SetValueWithUndo(CUndoFile& undo, const std::string& keyPath, const std::string& valueName,
                      const std::string& newValue, DWORD type = REG_SZ);
