#include "windows/app/close_command.h"
#include "windows/app/mainwindow.h"
#include "windows/app/startup.h"
#include "windows/app/system_library.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int showCommand)
{
    keepDllsToSystemFolder();
    // With no argument the program runs; /startup only sets the start with
    // Windows and ends, whether a copy runs or not. /close ends the copies
    // that run, and /reopen runs only where /close ended one.
    const CommandLine commandLine = parseCommandLine(arguments);
    switch (commandLine.command) {
    case COMMAND_TAKE_OVER: noteTakeOver(commandLine.window); break;
    case COMMAND_NONE:  // a copy started by hand since /close: /reopen starts no second one
        takeReopenNote();
        break;
    case COMMAND_CLOSE: return closeRunningCopies();
    case COMMAND_REOPEN:
        if (!takeReopenNote()) return 0;
        break;
    default: return runStartCommand(commandLine.command);
    }
    if (!startMainWindow(instance, showCommand)) return 0;
    return runMessageLoop();
}
