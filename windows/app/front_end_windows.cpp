// The Windows shell as the core's front end: the panel's status labels, the
// tray tip, and the main window's WM_DESK_STATE.
#include "app/front_end.h"

#include "windows/app/panel.h"

namespace {

HWND statusLabel(int32_t line)
{
    switch (line) {
    case 1: return app.statusLabel1;
    case 2: return app.statusLabel2;
    case 3: return app.statusLabel3;
    case 4: return app.statusLabel4;
    case 5: return app.statusLabel5;
    default: return nullptr;
    }
}

void writeStatusValue(int32_t line, int32_t value)
{
    showStatusValue(statusLabel(line), value);
}

void writeStatusText(int32_t line, const char* text)
{
    showStatusText(statusLabel(line), text);
}

// The tray and the panel are told by a message, not called: they call into
// the links themselves, and what they show can wait until this message is done.
void postDeskState()
{
    PostMessageA(app.mainWindow, WM_DESK_STATE, 0, 0);
}

}  // namespace

void useWindowsFrontEnd()
{
    frontEnd = {writeStatusValue, writeStatusText, postDeskState, showTransferTip};
}
