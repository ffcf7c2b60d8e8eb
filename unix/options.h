// The Linux program's settings: the command line over the configuration file
// (`$XDG_CONFIG_HOME/skiprail/skiprail.conf`, lines of `name = value`, `#`
// comments), checked by the same rules as the Windows settings. No X and no
// OpenSSL here: the rules are tested natively.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "input/hotkeys.h"
#include "settings/desk_rules.h"

// What the command line asks for besides running.
enum class Action { Run, Help, Version, NewKey, Autostart };

// One of Slaves 2 to 4 of a Master, as the Windows settings keep it.
struct MoreSlave {
    std::string partner;  // empty: not there
    int32_t port = 447;
    int32_t position = 0;  // POS_*
    int32_t nextTo = 0;    // 0 the Master, 1 to 3 that Slave
};

struct Options {
    Action action = Action::Run;
    int32_t mode = 0;          // MODE_SLAVE or MODE_MASTER once given
    std::string partner;
    int32_t port = 447;
    int32_t position = 0;      // POS_*; 0 when not given (POS_RIGHT is taken then)
    std::string keyFile;
    // A Master's: Slaves 2 to 4, and the rest in the Windows settings' units.
    MoreSlave more[MORE_SLAVES];
    // The keys that move control (HotkeyAction order). Not the Windows ones:
    // under X, Ctrl+Alt+F1 to F12 switch to a console, with Shift held as
    // well they reach programs.
    uint32_t hotkeys[HOTKEY_COUNT] = {
        HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x70, HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x71,
        HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x72, HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x73,
        HOTKEY_CTRL | HOTKEY_ALT | HOTKEY_SHIFT | 0x74, 0x91,  // F1 to F5, Scroll Lock
    };
    CrossGuards guards;            // all off unless switched on
    uint32_t fileLimitMB = 2048;   // as SRFileLimit: 0 lets no files across
    // The line of the configuration file each setting stands on, by its name.
    std::map<std::string, int> lines;
    bool verbose = false;
    bool autostartOn = false;  // with Action::Autostart
    // The settings as the command line gave them, for an autostart entry.
    std::vector<std::string> given;
};

// Reads the configuration file's text into `options`; `path` names the file
// in messages, and relative key files are taken from its folder. False with
// one line in *error on the first bad line.
bool readConfigText(const std::string& text, const std::string& path, Options& options, std::string* error);

// Reads the command line over what the file gave. False with one line in
// *error. The settings a run needs are checked by checkRunnable.
bool readCommandLine(int argc, const char* const* argv, Options& options, std::string* error);

// Whether the settings suffice to run (a mode, a partner, a Master's desk
// that stands); false with one line in *error, naming the file's line where
// a setting of the file is at fault.
bool checkRunnable(const Options& options, const std::string& configPath, std::string* error);

// The configuration file's path from the environment: $XDG_CONFIG_HOME when
// it is an absolute path, else ~/.config; empty without either.
std::string configHome(const char* xdgConfigHome, const char* home);

// The text --help prints.
const char* usageText();
