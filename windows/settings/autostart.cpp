#include "windows/settings/autostart.h"

#include <windows.h>

#include <cstring>

namespace {

const char RUN_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char RUN_VALUE[] = "Skiprail";

// The program's full path in quotes, as the Run key wants a path that may
// hold spaces. False when the path does not fit.
bool quotedOwnPath(char (&out)[MAX_PATH + 3])
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    out[0] = '"';
    std::memcpy(out + 1, path, length);
    out[length + 1] = '"';
    out[length + 2] = '\0';
    return true;
}

}  // namespace

bool startsWithWindows()
{
    char own[MAX_PATH + 3];
    if (!quotedOwnPath(own)) return false;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    char stored[MAX_PATH + 8] = {};
    DWORD size = sizeof stored - 1, type = 0;
    const LONG status = RegQueryValueExA(key, RUN_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(stored), &size);
    RegCloseKey(key);
    // A value left by a copy of the program elsewhere does not start this one.
    return status == ERROR_SUCCESS && (type == REG_SZ || type == REG_EXPAND_SZ) && lstrcmpiA(stored, own) == 0;
}

bool setStartWithWindows(bool on)
{
    char own[MAX_PATH + 3];
    if (on && !quotedOwnPath(own)) return false;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, RUN_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    LONG status;
    if (on) {
        status = RegSetValueExA(key, RUN_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(own),
                                static_cast<DWORD>(std::strlen(own) + 1));
    } else {
        status = RegDeleteValueA(key, RUN_VALUE);
        if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}
