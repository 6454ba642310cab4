// The stand-in's <shlobj.h>: SHGetSpecialFolderPathA and the CSIDL values
// live in <windows.h> here, answered from the simulated machine's folders.
#pragma once
#include <windows.h>
