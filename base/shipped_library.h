// Loading the engine's companion libraries (the debug log's Nimbtrace.dll,
// the status library Pellwatch.dll) from where they are shipped.
//
// Loaded by bare name, Windows would also search the current folder and every
// folder on PATH, where any user may have planted a library of that name; an
// engine running as administrator would then run that user's code. So each is
// loaded by full path from the folders a host or the plug-in ships it in.
#pragma once

#include <windows.h>

// `fileName` from the plug-in's own folder, else the host program's folder,
// else the system folder; null when none of them holds it.
HMODULE LoadShippedLibrary(const char* fileName);
