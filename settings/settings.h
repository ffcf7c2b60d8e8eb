// The four settings in the registry, under HKEY_LOCAL_MACHINE, or under
// HKEY_CURRENT_USER where this account cannot write the machine-wide key.
#pragma once

#include <cstdint>

extern const char SETTINGS_KEY[];

// The writes return true when the value was stored.
bool writeRegistryText(const char* keyPath, const char* name, const char* text);
bool writeRegistryNumber(const char* keyPath, const char* name, int32_t value);
int32_t readRegistryNumber(const char* keyPath, const char* name);
// Reads into out (256 bytes): at most the first 255 bytes of the text,
// always terminated.
void readRegistryText(const char* keyPath, const char* name, char out[256]);
bool registryValuePresent(const char* keyPath, const char* name);

// Copies the four values into AppState, writing the default of any that is
// missing first; after writing a default it opens the settings dialog.
void loadSettings();
