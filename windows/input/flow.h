// The hooks' notifications in the Master's terms: moves, buttons, the wheel
// and keys for its decisions (input/master_core.h).
#pragma once

#include "windows/app/appstate.h"

void onHookMouse(WPARAM message, const MSLLHOOKSTRUCT* record);
void onHookKeyboard(WPARAM message, const KBDLLHOOKSTRUCT* record);
