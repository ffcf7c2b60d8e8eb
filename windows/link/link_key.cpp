#include "windows/link/link_key.h"

#include "windows/link/system_cipher.h"

namespace {

// The link key as the handshake uses it: the typed key, stretched once when
// it is set.
uint8_t linkKey[LINK_KEY_STRETCHED];
bool keySet = false;
bool keyStretched = false;

}  // namespace

void setLinkKey(const uint8_t* key, int32_t n)
{
    SecureZeroMemory(linkKey, sizeof linkKey);
    keySet = n > 0;
    keyStretched = keySet && stretchLinkKey(key, n < LINK_KEY_MAX ? n : LINK_KEY_MAX, linkKey);
}

bool haveLinkKey()
{
    return keySet;
}

const uint8_t* stretchedLinkKey()
{
    return linkKey;
}

bool linkKeyUsable()
{
    return keyStretched;
}

void showLinkKeyNotice(HWND window)
{
    (void)window;
    MessageBoxA(nullptr,
                "The partner did not prove the link key, so Skiprail does not link with it.\n\n"
                "Both PCs need the same key: open \"Link Key...\" from the tray menu on each "
                "and type the same key, or clear it on both.",
                "Skiprail", MB_OK | MB_ICONWARNING);
}
