// The scheduled task that starts the program with administrator rights when
// the user logs on (Task Scheduler 2.0: Windows Vista and later). The system's
// scheduler is reached through COM, loaded at run time, so the program still
// starts on Windows 2000 and XP.
#pragma once

// Whether this Windows has the scheduler that can run a task with
// administrator rights.
bool startupTaskPossible();

enum StartupTaskState {
    TASK_ABSENT,   // no task of the name, or no scheduler
    TASK_OURS,     // the task starts this very program
    TASK_OTHER,    // a task of the name that starts another copy, or cannot be read
};
StartupTaskState startupTaskState();

// Writes the task for the user logged on now, or replaces it; needs
// administrator rights. True once the scheduler holds it.
bool writeStartupTask();
// Removes the task; true when there is none afterwards.
bool removeStartupTask();
