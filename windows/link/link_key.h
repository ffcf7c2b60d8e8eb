// The protected link's Windows half: the link key as this PC holds it,
// stretched once with the system's cipher (CNG, loaded at run time, so the
// program still starts where there is none), and the notice of a partner
// that did not prove it. The handshake and the records are the link
// engine's, one session for each connection; one link key protects every
// link of the desk. Without a link key the wire is exactly what it was.
#pragma once

#include "windows/app/appstate.h"
#include "link/link_life.h"

// The link key that new connections use, as it counts (normalizeLinkKey);
// none when n is 0. It is stretched here, once (about a tenth of a second):
// the handshake uses the stretched key. Connections already made keep what
// they began with.
void setLinkKey(const uint8_t* key, int32_t n);
bool haveLinkKey();
// The key as the handshake uses it, and whether it could be stretched: a key
// set without the system's cipher links with no one, and never in the clear.
const uint8_t* stretchedLinkKey();
bool linkKeyUsable();

// Whether a control connection is up, and every one that is up is protected.
bool linkProtectedNow();

// WM_LINK_KEY_NOTICE: the partner did not prove the link key (once per start).
void showLinkKeyNotice(HWND window);
