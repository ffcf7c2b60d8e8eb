// The four settings in the registry, and beside them the settings of Slaves
// 2 to 4 of a Master's desk, under HKEY_LOCAL_MACHINE, or under
// HKEY_CURRENT_USER where this account cannot write the machine-wide key.
#pragma once

#include <cstdint>

#include "input/hotkeys.h"

extern const char SETTINGS_KEY[];

// The writes return true when the value was stored.
bool writeRegistryText(const char* keyPath, const char* name, const char* text);
bool writeRegistryNumber(const char* keyPath, const char* name, int32_t value);
int32_t readRegistryNumber(const char* keyPath, const char* name);
// Reads into out (256 bytes): at most the first 255 bytes of the text,
// always terminated.
void readRegistryText(const char* keyPath, const char* name, char out[256]);
bool registryValuePresent(const char* keyPath, const char* name);
// Removes a value from the key this run writes; true when it is gone there
// (or was never there).
bool deleteRegistryValue(const char* keyPath, const char* name);

// The name of a value of Slave `number` (2 to 4): base "SRPartner" and 2
// give "SRPartner2". `out` holds 32 bytes.
void slaveValueName(const char* base, int32_t number, char out[32]);
// Removes the four values of Slave `number` (2 to 4). Where the settings live
// with the user and the machine-wide key, which cannot be changed, still names
// that Slave, an empty SRPartnerN in the user's key keeps it removed.
bool removeSlaveSettings(int32_t number);

// The names of the hotkeys' values (HotkeyAction order), and of the guards'.
extern const char* const HOTKEY_VALUES[HOTKEY_COUNT];
extern const char SWITCH_DELAY_VALUE[], DOUBLE_TAP_VALUE[], DEAD_CORNER_VALUE[];
// Reads the hotkeys and guards into app; a value not stored gives its default
// (the hotkeys' own, guards off).
void loadHotkeys();

// Copies the four values into AppState, writing the default of any that is
// missing first, and the settings of Slaves 2 to 4 into app.moreSlaves (they
// have no defaults). True when it wrote a default: a first setup, for which
// the settings dialog is to open.
bool loadSettings();
