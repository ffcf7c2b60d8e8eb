#include "settings/settings.h"

#include <cstring>

#include "app/appstate.h"
#include "settings/port_text.h"

const char SETTINGS_KEY[] = "Software\\Tamberlode\\Skiprail";

namespace {

// Creates the key when it is missing. Returns the key opened with `access`
// when it already existed, or the newly created one (with KEY_WRITE) and
// *created set; null when it can be neither created nor opened.
HKEY createOrOpen(const char* keyPath, REGSAM access, bool* created)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    *created = false;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    if (disposition != REG_OPENED_EXISTING_KEY) {
        *created = true;
        return key;
    }
    RegCloseKey(key);
    key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

void writeValue(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size)
{
    bool created = false;
    HKEY key = createOrOpen(keyPath, KEY_WRITE, &created);
    if (!key) return;
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

// Reads a value into a zero-filled area only when the key already existed.
void readValue(const char* keyPath, const char* name, void* data, DWORD size)
{
    bool created = false;
    HKEY key = createOrOpen(keyPath, KEY_READ, &created);
    if (!key) return;
    if (!created) RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(data), &size);
    RegCloseKey(key);
}

}  // namespace

void writeRegistryText(const char* keyPath, const char* name, const char* text)
{
    writeValue(keyPath, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

void writeRegistryNumber(const char* keyPath, const char* name, int32_t value)
{
    writeValue(keyPath, name, REG_DWORD, &value, sizeof value);
}

int32_t readRegistryNumber(const char* keyPath, const char* name)
{
    int32_t value = 0;
    readValue(keyPath, name, &value, sizeof value);
    return value;
}

void readRegistryText(const char* keyPath, const char* name, char out[256])
{
    std::memset(out, 0, 256);
    // 255 bytes at most: the last byte stays zero, so a stored text without
    // its terminator still ends here. A longer text does not fit and reads
    // as empty.
    readValue(keyPath, name, out, 255);
    out[255] = '\0';
}

bool registryValuePresent(const char* keyPath, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return false;
    BYTE area[1024] = {};
    DWORD size = sizeof area;
    const bool present = RegQueryValueExA(key, name, nullptr, nullptr, area, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

void loadSettings()
{
    bool wroteDefault = false;
    if (!registryValuePresent(SETTINGS_KEY, "SRMaster")) {
        writeRegistryNumber(SETTINGS_KEY, "SRMaster", 1);
        wroteDefault = true;
    }
    if (!registryValuePresent(SETTINGS_KEY, "ScreenPos")) {
        writeRegistryNumber(SETTINGS_KEY, "ScreenPos", 0);
        wroteDefault = true;
    }
    if (!registryValuePresent(SETTINGS_KEY, "SRPartner")) {
        writeRegistryText(SETTINGS_KEY, "SRPartner", "localhost");
        wroteDefault = true;
    }
    if (!registryValuePresent(SETTINGS_KEY, "SRPort")) {
        writeRegistryText(SETTINGS_KEY, "SRPort", "447");
        wroteDefault = true;
    }

    const int32_t master = readRegistryNumber(SETTINGS_KEY, "SRMaster");
    if (master == 0) app.mode = MODE_SLAVE;
    if (master == 1) app.mode = MODE_MASTER;

    char text[256];
    std::memset(app.partnerHost, 0, sizeof app.partnerHost);
    readRegistryText(SETTINGS_KEY, "SRPartner", text);
    std::memcpy(app.partnerHost, text, sizeof app.partnerHost);

    readRegistryText(SETTINGS_KEY, "SRPort", text);
    app.port = parsePortText(text);

    static const int32_t POSITIONS[] = {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW};
    const int32_t position = readRegistryNumber(SETTINGS_KEY, "ScreenPos");
    if (position >= 0 && position <= 3) app.screenPosition = POSITIONS[position];

    // The settings dialog would open here after a default was written; this
    // build has none, so the defaults stand.
    (void)wroteDefault;
}
