// Starting with Windows: the program's own path in the user's Run key.
#pragma once

// Whether the Run key starts this very program (its own path, quoted).
bool startsWithWindows();
// Adds or removes the value; true when the Run key now says what was asked.
bool setStartWithWindows(bool on);
