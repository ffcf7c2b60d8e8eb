// What the Linux program does before it runs, or instead of running: the
// link key from its file, a new key, the autostart entry, and the session
// it finds itself in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/record_layer.h"

// Reads the key file (a key as typed in the Master's dialog) and stretches
// the key. Refused, with one line in *error, when the file is open to group
// or others, is not a plain file, or holds too short a key.
bool loadKeyFile(const std::string& path, uint8_t stretched[LINK_KEY_STRETCHED], std::string* error);

// A new key in the form the Master's dialog makes one; empty when no random
// bytes could be had.
std::string newLinkKey();

// Writes or removes ~/.config/autostart/skiprail.desktop (under
// $XDG_CONFIG_HOME): the program started with `arguments` when the session
// starts. False with one line in *error; *done says what was done.
bool writeAutostart(const std::string& configHome, const std::vector<std::string>& arguments, std::string* done,
                    std::string* error);
bool removeAutostart(const std::string& configHome, std::string* done, std::string* error);

