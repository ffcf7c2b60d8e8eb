// What the shared core tells whoever shows the program's state. Each front
// end fills `frontEnd` once at start: the Windows shell writes its panel's
// status labels and posts to its main window; the Linux program logs. The
// core calls through it and knows nothing of windows, panels or logs.
// No <windows.h>: the Linux program includes this too.
#pragma once

#include <cstdint>

struct FrontEnd {
    // One of the five status lines (1 to 5): "Status Value: %d".
    void (*statusValue)(int32_t line, int32_t value);
    // One of the five status lines: a fixed text.
    void (*statusText)(int32_t line, const char* text);
    // A link came up or went, or control moved to another PC: the desk's
    // state is to be shown again (once the current work is done).
    void (*deskChanged)();
    // How far files crossing the clipboard have come, in percent (0 to 99);
    // below 0, the transfer is over.
    void (*filesProgress)(int32_t percent);
};

// Every call goes nowhere until a front end sets its own.
extern FrontEnd frontEnd;
