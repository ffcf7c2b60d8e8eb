// The Linux program's settings: the command line over the configuration file
// (`$XDG_CONFIG_HOME/skiprail/skiprail.conf`, lines of `name = value`, `#`
// comments), checked by the same rules as the Windows settings. No X and no
// OpenSSL here: the rules are tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What the command line asks for besides running.
enum class Action { Run, Help, Version, NewKey, Autostart };

struct Options {
    Action action = Action::Run;
    int32_t mode = 0;          // MODE_SLAVE once given
    std::string partner;
    int32_t port = 447;
    int32_t position = 0;      // POS_*; 0 when not given (POS_RIGHT is taken then)
    std::string keyFile;
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

// Whether the settings suffice to run (a mode this program has, a partner);
// false with one line in *error.
bool checkRunnable(const Options& options, const std::string& configPath, std::string* error);

// The configuration file's path from the environment: $XDG_CONFIG_HOME when
// it is an absolute path, else ~/.config; empty without either.
std::string configHome(const char* xdgConfigHome, const char* home);

// The text --help prints.
const char* usageText();
