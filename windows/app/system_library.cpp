#include "windows/app/system_library.h"

HMODULE loadSystemLibrary(const char* name)
{
    char path[MAX_PATH + 32] = {};
    const UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return nullptr;
    lstrcatA(path, "\\");
    lstrcatA(path, name);
    return LoadLibraryA(path);
}

void keepDllsToSystemFolder()
{
    const DWORD SEARCH_SYSTEM32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    typedef BOOL(WINAPI * SetDefaultDirectories)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDirectories>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault) setDefault(SEARCH_SYSTEM32);
}
