#include "app/mainwindow.h"
#include "app/startup.h"
#include "app/system_library.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int showCommand)
{
    keepDllsToSystemFolder();
    // With no argument the program runs; /startup only sets the start with
    // Windows and ends, whether a copy runs or not.
    const CommandLine commandLine = parseCommandLine(arguments);
    if (commandLine.command == COMMAND_TAKE_OVER) noteTakeOver(commandLine.window);
    else if (commandLine.command != COMMAND_NONE) return runStartCommand(commandLine.command);
    if (!startMainWindow(instance, showCommand)) return 0;
    return runMessageLoop();
}
