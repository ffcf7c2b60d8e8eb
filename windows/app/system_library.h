// DLLs of the system, from the system folder alone: a program that can start
// with administrator rights must not take a DLL of the same name that someone
// put beside it, in the current folder or anywhere else on the search path.
#pragma once

#include <windows.h>

// Loads a DLL of the system by its name ("ole32.dll") from the system folder.
HMODULE loadSystemLibrary(const char* name);

// From here on, DLLs that the system's own DLLs load by name come from the
// system folder too (Windows 8, and 7 and Vista with their update; nothing
// changes elsewhere). The hook library the program imports is loaded before.
void keepDllsToSystemFolder();
