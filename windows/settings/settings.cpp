#include "windows/settings/settings.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

#include "windows/app/appstate.h"
#include "app/front_end.h"
#include "windows/input/hooks.h"
#include "windows/link/link.h"
#include "settings/port_text.h"

const char SETTINGS_KEY[] = "Software\\Tamberlode\\Skiprail";

namespace {

// Where this run writes its settings. Since Windows Vista a program runs with
// a standard user's rights, an administrator's too, and may then neither
// create nor write the machine-wide key: the settings go to the same key
// under HKEY_CURRENT_USER instead, where they last. Values the user has not
// saved there are still read from a machine-wide key that can be read.
// Chosen by every load, so the dialog and the reload after it agree.
bool userHive = false;

HKEY writeHive()
{
    return userHive ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

bool valuePresentIn(HKEY hive, const char* keyPath, const char* name);

// Settings the user saved while the machine-wide key was closed to them stay
// theirs when the program runs as administrator (restarted so, or started by
// the task at logon): it reads and writes them where they are.
void chooseHive()
{
    if (valuePresentIn(HKEY_CURRENT_USER, SETTINGS_KEY, "SRMaster")) {
        userHive = true;
        return;
    }
    HKEY key = nullptr;
    DWORD disposition = 0;
    userHive = RegCreateKeyExA(HKEY_LOCAL_MACHINE, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                               nullptr, &key, &disposition) != ERROR_SUCCESS;
    if (key) RegCloseKey(key);
}

// Creates the key when it is missing. Returns the key opened with `access`
// when it already existed, or the newly created one (with KEY_WRITE) and
// *created set; null when it can be neither created nor opened.
HKEY createOrOpen(HKEY hive, const char* keyPath, REGSAM access, bool* created)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    *created = false;
    if (RegCreateKeyExA(hive, keyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        &disposition) != ERROR_SUCCESS)
        return nullptr;
    if (disposition != REG_OPENED_EXISTING_KEY) {
        *created = true;
        return key;
    }
    RegCloseKey(key);
    key = nullptr;
    if (RegOpenKeyExA(hive, keyPath, 0, access, &key) != ERROR_SUCCESS) return nullptr;
    return key;
}

// Fills the zero-filled `data` with the value's first `size` bytes, however
// long the value is. A failed query leaves the area undefined, so it is
// cleared again. Returns whether the value exists.
bool queryValue(HKEY key, const char* name, void* data, DWORD size)
{
    DWORD length = size;
    LONG status = RegQueryValueExA(key, name, nullptr, nullptr, static_cast<BYTE*>(data), &length);
    if (status == ERROR_SUCCESS) return true;
    std::memset(data, 0, size);
    // Longer than the area: read it whole and keep its beginning. The value
    // may grow between the two queries; a few tries settle that.
    for (int attempt = 0; attempt < 3 && status == ERROR_MORE_DATA; ++attempt) {
        // The process heap, not the C++ runtime: the shipped code links no
        // part of it that throws.
        BYTE* whole = static_cast<BYTE*>(HeapAlloc(GetProcessHeap(), 0, length ? length : 1));
        if (!whole) return false;
        status = RegQueryValueExA(key, name, nullptr, nullptr, whole, &length);
        if (status == ERROR_SUCCESS) std::memcpy(data, whole, length < size ? length : size);
        HeapFree(GetProcessHeap(), 0, whole);
        if (status == ERROR_SUCCESS) return true;
    }
    return false;
}

bool writeValue(const char* keyPath, const char* name, DWORD type, const void* data, DWORD size)
{
    bool created = false;
    HKEY key = createOrOpen(writeHive(), keyPath, KEY_WRITE, &created);
    if (!key) return false;
    const bool written = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

// Reads a value into a zero-filled area only when the key already existed.
// In the user's hive a value the user has not saved comes from the
// machine-wide key, which is only opened, never created.
void readValue(const char* keyPath, const char* name, void* data, DWORD size)
{
    bool created = false;
    bool found = false;
    if (HKEY key = createOrOpen(writeHive(), keyPath, KEY_READ, &created)) {
        if (!created) found = queryValue(key, name, data, size);
        RegCloseKey(key);
    }
    HKEY machine = nullptr;
    if (!found && userHive && RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &machine) == ERROR_SUCCESS) {
        queryValue(machine, name, data, size);
        RegCloseKey(machine);
    }
}

// Asks for read access only: a key this account may read and write but not
// own (no KEY_ALL_ACCESS) still holds settings, which must not be taken for
// missing and overwritten with the defaults at every start.
bool valuePresentIn(HKEY hive, const char* keyPath, const char* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(hive, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    BYTE area[1024] = {};
    DWORD size = sizeof area;
    const bool present = RegQueryValueExA(key, name, nullptr, nullptr, area, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return present;
}

}  // namespace

namespace {

// Slaves 2 to 4: each is there when its SRPartnerN holds a name. A missing
// port is the default one; a missing or unknown side leaves the Slave
// unplaced, which the desk refuses.
void loadMoreSlaves()
{
    static const int32_t POSITIONS[] = {POS_LEFT, POS_RIGHT, POS_ABOVE, POS_BELOW};
    char name[32];
    char text[256];
    for (int32_t i = 0; i < MAX_SLAVES - 1; ++i) {
        AppState::MoreSlave& slave = app.moreSlaves[i];
        slave = AppState::MoreSlave();
        const int32_t number = i + 2;
        slaveValueName("SRPartner", number, name);
        readRegistryText(SETTINGS_KEY, name, text);
        if (!text[0]) continue;
        slave.present = 1;
        std::memcpy(slave.host, text, sizeof slave.host);
        slaveValueName("SRPort", number, name);
        slave.port = 447;
        if (registryValuePresent(SETTINGS_KEY, name)) {
            readRegistryText(SETTINGS_KEY, name, text);
            slave.port = parsePortText(text);
        }
        slaveValueName("ScreenPos", number, name);
        if (registryValuePresent(SETTINGS_KEY, name)) {
            const int32_t position = readRegistryNumber(SETTINGS_KEY, name);
            if (position >= 0 && position <= 3) slave.position = POSITIONS[position];
        }
        slaveValueName("SRNextTo", number, name);
        slave.nextTo = readRegistryNumber(SETTINGS_KEY, name);
    }
}

}  // namespace

bool writeRegistryText(const char* keyPath, const char* name, const char* text)
{
    return writeValue(keyPath, name, REG_SZ, text, static_cast<DWORD>(std::strlen(text) + 1));
}

bool writeRegistryNumber(const char* keyPath, const char* name, int32_t value)
{
    return writeValue(keyPath, name, REG_DWORD, &value, sizeof value);
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
    // its terminator still ends here, and a longer one is cut there.
    readValue(keyPath, name, out, 255);
    out[255] = '\0';
}

bool registryValuePresent(const char* keyPath, const char* name)
{
    return valuePresentIn(writeHive(), keyPath, name) ||
           (userHive && valuePresentIn(HKEY_LOCAL_MACHINE, keyPath, name));
}

bool deleteRegistryValue(const char* keyPath, const char* name)
{
    HKEY key = nullptr;
    const LONG opened = RegOpenKeyExA(writeHive(), keyPath, 0, KEY_SET_VALUE, &key);
    if (opened == ERROR_FILE_NOT_FOUND) return true;
    if (opened != ERROR_SUCCESS) return false;
    const LONG status = RegDeleteValueA(key, name);
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

void slaveValueName(const char* base, int32_t number, char out[32])
{
    _snprintf(out, 31, "%s%d", base, static_cast<int>(number));  // msvcrt's own, on every Windows
    out[31] = '\0';
}

bool removeSlaveSettings(int32_t number)
{
    bool removed = true;
    char name[32];
    for (const char* base : {"SRPartner", "SRPort", "ScreenPos", "SRNextTo"}) {
        slaveValueName(base, number, name);
        removed = deleteRegistryValue(SETTINGS_KEY, name) && removed;
    }
    slaveValueName("SRPartner", number, name);
    char left[256];
    readRegistryText(SETTINGS_KEY, name, left);
    if (left[0]) removed = writeRegistryText(SETTINGS_KEY, name, "") && removed;
    return removed;
}

const char* const HOTKEY_VALUES[HOTKEY_COUNT] = {"SRKeyMaster", "SRKeySlave1", "SRKeySlave2",
                                                 "SRKeySlave3", "SRKeySlave4", "SRKeyLock"};
const char SWITCH_DELAY_VALUE[] = "SRSwitchDelay";
const char DOUBLE_TAP_VALUE[] = "SRDoubleTap";
const char DEAD_CORNER_VALUE[] = "SRDeadCorners";

void loadHotkeys()
{
    for (int32_t i = 0; i < HOTKEY_COUNT; ++i) {
        app.hotkeys[i] = HOTKEY_DEFAULTS[i];
        if (!registryValuePresent(SETTINGS_KEY, HOTKEY_VALUES[i])) continue;
        const uint32_t stored = static_cast<uint32_t>(readRegistryNumber(SETTINGS_KEY, HOTKEY_VALUES[i]));
        // One the system keeps, or a plain letter, would never be set by the
        // dialog: a stored one is taken as off.
        app.hotkeys[i] = hotkeyRefusal(stored) ? 0 : stored;
    }
    // Milliseconds and pixels, within reason; 0 or less is off.
    const int32_t delay = readRegistryNumber(SETTINGS_KEY, SWITCH_DELAY_VALUE);
    const int32_t corner = readRegistryNumber(SETTINGS_KEY, DEAD_CORNER_VALUE);
    app.guards.delayMs = delay < 0 ? 0 : (delay > 5000 ? 5000 : delay);
    app.guards.doubleTap = readRegistryNumber(SETTINGS_KEY, DOUBLE_TAP_VALUE) ? 1 : 0;
    app.guards.corner = corner < 0 ? 0 : (corner > 500 ? 500 : corner);
    // A lock whose key was just turned off could never be let go.
    if (app.crossingLocked && !app.hotkeys[HOTKEY_LOCK]) {
        app.crossingLocked = 0;
        frontEnd.deskChanged();
    }
    applyHotkeys(true);
}

bool loadSettings()
{
    chooseHive();

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

    app.fileLimitMB = registryValuePresent(SETTINGS_KEY, "SRFileLimit")
                          ? static_cast<uint32_t>(readRegistryNumber(SETTINGS_KEY, "SRFileLimit"))
                          : 2048;

    loadMoreSlaves();
    followDesk();
    loadHotkeys();
    return wroteDefault;
}
