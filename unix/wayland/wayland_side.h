// A Wayland session as the Linux Slave drives it: through the wlroots
// desktops' virtual keyboard, virtual pointer and data control protocols,
// or through GNOME's remote desktop interface on the session bus.
#pragma once

#include "unix/desk.h"

// Connects to the session's compositor and picks the way its desktop can be
// driven; nullptr, having said on stderr what the compositor lacks and that
// an X11 session works, when it offers none.
const DeskWay* waylandOpen(void (*lost)());
