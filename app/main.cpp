#include "app/mainwindow.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (!startMainWindow(instance, showCommand)) return 0;
    return runMessageLoop();
}
