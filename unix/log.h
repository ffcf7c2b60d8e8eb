// What the Linux program says: one line each on stderr, with a time stamp.
// The lines of --verbose tell what happens on the link (linked, entered,
// left, the desktop announced, clipboard sizes), so a watcher can wait on them.
#pragma once

#include <cstdarg>

void setVerbose(bool on);
bool verbose();

// Always said: what the user must know (a failure, a refusal, an end).
void logLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Said with --verbose only.
void logVerbose(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The core's status lines and desk changes go to the log (with --verbose).
void installLogFrontEnd();
