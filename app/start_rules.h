// What the command line asks for, and when to tell the user that Windows
// keeps the shared keyboard and mouse out of a program run as administrator.
// No <windows.h>.
#pragma once

#include <cstdint>

// The start with Windows the command line sets, or what else it asks.
enum StartCommand : int32_t {
    COMMAND_NONE = 0,        // no argument: the program runs as ever
    COMMAND_START_ADMIN,     // /startup admin: the scheduled task, with administrator rights
    COMMAND_START_USER,      // /startup user: the user's Run value
    COMMAND_START_OFF,       // /startup off: neither
    COMMAND_TAKE_OVER,       // /takeover WINDOW: this copy replaces the one whose main window that is
    COMMAND_CLOSE,           // /close: the running copies end (the installer's first step)
    COMMAND_REOPEN,          // /reopen: runs if /close ended a copy (the installer's last step)
    COMMAND_BAD,             // anything else
};

struct CommandLine {
    StartCommand command = COMMAND_NONE;
    uint64_t window = 0;  // COMMAND_TAKE_OVER's window handle, as a number
};

// Reads the arguments as Windows hands them to WinMain (the program's name
// left out). Words are separated by spaces or tabs, and a word may be in
// double quotes; "/" or "-" and any letter case are taken for the switches.
CommandLine parseCommandLine(const char* arguments);

// The three forms, for the box that answers anything else.
extern const char START_COMMAND_USAGE[];

// The programs the user has been told of since the start, by file name.
struct ProgramsTold {
    static constexpr int32_t CAPACITY = 64;
    static constexpr int32_t NAME_SIZE = 64;
    char names[CAPACITY][NAME_SIZE] = {};
    int32_t count = 0;
};

// What is known when another window comes to the front.
struct ForegroundScene {
    bool foregroundElevated = false;  // its program runs as administrator
    bool selfElevated = false;        // so does this program
    bool master = false;              // this PC is the Master
    bool slaveDriven = false;         // this Slave's Master can drive it now
    const char* program = "";         // the foreground program's file name ("Taskmgr.exe")
};

// Whether to tell the user that Windows keeps Skiprail out of the foreground
// program: it runs as administrator and this program does not, and that
// matters now (on the Master always: its hooks miss the keyboard and mouse
// over such a window; on a Slave while its Master drives it). Once per
// program: a program told of is noted in `told`, and not told of again.
bool shouldTellElevated(const ForegroundScene& scene, ProgramsTold& told);
