// The four settings in the registry under HKEY_LOCAL_MACHINE.
#pragma once

#include <cstdint>

extern const char SETTINGS_KEY[];

void writeRegistryText(const char* keyPath, const char* name, const char* text);
void writeRegistryNumber(const char* keyPath, const char* name, int32_t value);
int32_t readRegistryNumber(const char* keyPath, const char* name);
// Reads into out (256 bytes): at most 255 bytes of text, always terminated.
void readRegistryText(const char* keyPath, const char* name, char out[256]);
bool registryValuePresent(const char* keyPath, const char* name);

// Copies the four values into AppState, writing the default of any that is
// missing first.
void loadSettings();
