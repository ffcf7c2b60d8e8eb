// `/close` and `/reopen`, for the installer: a copy that runs ends before its
// files are replaced or removed, and starts again once the new ones are in.
#pragma once

// `/close`: every copy of the program on this desktop is asked to end as at a
// close request (the user's pointer and keys first, then its tray icon, hooks
// and connections) and waited for; one that has not ended within 10 s is
// ended. Where a copy ended, a note is left for `/reopen`. Returns the exit
// code: 0 when no copy runs any more, 1 when one could not be ended.
int closeRunningCopies();

// `/reopen`: whether a copy was ended by `/close` since the last reopening
// (or logon): the note is taken, and the program then runs as ever.
bool takeReopenNote();
