#include "windows/settings/link_key_dialog.h"

#include <wincrypt.h>

#include <cstring>

#include "windows/app/appstate.h"
#include "windows/app/system_library.h"
#include "windows/link/connections.h"
#include "windows/link/link_key.h"
#include "windows/link/system_cipher.h"
#include "resources/resource.h"
#include "settings/key_text.h"
#include "windows/settings/settings.h"

namespace {

const char LINK_KEY_VALUE[] = "SRLinkKey";
// The longest key text the field takes.
const int KEY_TEXT_AREA = 101;

HWND openDialog = nullptr;

// crypt32.dll's data protection, looked up once: Windows 2000 has it, but
// nothing of it is imported, so the program starts whether or not it loads.
using ProtectFunction = BOOL(WINAPI*)(DATA_BLOB*, LPCWSTR, DATA_BLOB*, PVOID, void*, DWORD, DATA_BLOB*);
using UnprotectFunction = BOOL(WINAPI*)(DATA_BLOB*, LPWSTR*, DATA_BLOB*, PVOID, void*, DWORD, DATA_BLOB*);
ProtectFunction protectData = nullptr;
UnprotectFunction unprotectData = nullptr;

bool loadDataProtection()
{
    static bool tried = false;
    if (!tried) {
        tried = true;
        if (HMODULE dll = loadSystemLibrary("crypt32.dll")) {
            protectData = reinterpret_cast<ProtectFunction>(
                reinterpret_cast<void*>(GetProcAddress(dll, "CryptProtectData")));
            unprotectData = reinterpret_cast<UnprotectFunction>(
                reinterpret_cast<void*>(GetProcAddress(dll, "CryptUnprotectData")));
        }
    }
    return protectData && unprotectData;
}

void setKeyFromText(const char* text)
{
    uint8_t key[LINK_KEY_MAX];
    const int32_t n = normalizeLinkKey(text, key, sizeof key);
    setLinkKey(key, n);
    SecureZeroMemory(key, sizeof key);
}

void showState(HWND dialog)
{
    const char* state = "The link is not protected: no link key is set.";
    if (!systemCryptoAvailable())
        state = "A protected link needs Windows Vista or later.";
    else if (linkProtectedNow())
        state = "The link is protected now.";
    else if (haveLinkKey())
        state = "Not linked now: the link is protected once the partner proves the same key.";
    SetDlgItemTextA(dialog, IDC_LINK_STATE, state);
}

void onInitDialog(HWND dialog)
{
    openDialog = dialog;
    SendDlgItemMessageA(dialog, IDC_LINK_KEY_TEXT, EM_LIMITTEXT, KEY_TEXT_AREA - 1, 0);
    char stored[KEY_TEXT_AREA] = {};
    if (readStoredLinkKey(stored, sizeof stored)) SetDlgItemTextA(dialog, IDC_LINK_KEY_TEXT, stored);
    SecureZeroMemory(stored, sizeof stored);
    if (!systemCryptoAvailable()) {
        EnableWindow(GetDlgItem(dialog, IDC_LINK_KEY_TEXT), FALSE);
        EnableWindow(GetDlgItem(dialog, IDC_NEW_KEY), FALSE);
    }
    showState(dialog);
    // The state line follows the link while the dialog is open.
    SetTimer(dialog, IDC_LINK_STATE, 500, nullptr);
}

void onNewKey(HWND dialog)
{
    uint8_t random[NEW_KEY_RANDOM_BYTES];
    SystemCipher cipher;
    if (!cipher.random(random, sizeof random)) {
        SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "No random key could be made here.");
        return;
    }
    char text[NEW_KEY_TEXT];
    formatNewKey(random, text);
    SetDlgItemTextA(dialog, IDC_LINK_KEY_TEXT, text);
    SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "Type this key on the other PC too.");
    SecureZeroMemory(random, sizeof random);
    SecureZeroMemory(text, sizeof text);
}

// OK: a key too short to be safe, or one that cannot be stored, keeps the
// dialog open with a note; a changed key ends the link, which is made again.
void onOk(HWND dialog)
{
    char text[KEY_TEXT_AREA] = {};
    GetDlgItemTextA(dialog, IDC_LINK_KEY_TEXT, text, sizeof text);
    uint8_t key[LINK_KEY_MAX];
    const int32_t n = normalizeLinkKey(text, key, sizeof key);
    const int32_t symbols = linkKeySymbols(key, n);
    SecureZeroMemory(key, sizeof key);
    if (n > 0 && symbols < LINK_KEY_MIN_SYMBOLS) {
        SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "A link key needs at least 16 letters or digits.");
        SecureZeroMemory(text, sizeof text);
        return;
    }
    if (n > 0 && !systemCryptoAvailable()) {
        SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "A protected link needs Windows Vista or later.");
        SecureZeroMemory(text, sizeof text);
        return;
    }
    char stored[KEY_TEXT_AREA] = {};
    readStoredLinkKey(stored, sizeof stored);
    uint8_t before[LINK_KEY_MAX], after[LINK_KEY_MAX];
    const int32_t beforeLength = normalizeLinkKey(stored, before, sizeof before);
    const int32_t afterLength = normalizeLinkKey(text, after, sizeof after);
    const bool changed = beforeLength != afterLength || std::memcmp(before, after, afterLength) != 0;
    SecureZeroMemory(stored, sizeof stored);
    SecureZeroMemory(before, sizeof before);
    SecureZeroMemory(after, sizeof after);
    if (changed && !storeLinkKey(text)) {
        SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "The link key could not be stored.");
        SecureZeroMemory(text, sizeof text);
        return;
    }
    SecureZeroMemory(text, sizeof text);
    EndDialog(dialog, changed ? IDOK : IDCANCEL);
}

HKEY openUserKey(REGSAM access, bool create)
{
    HKEY key = nullptr;
    if (create) {
        DWORD disposition = 0;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr,
                            &key, &disposition) != ERROR_SUCCESS)
            return nullptr;
    } else if (RegOpenKeyExA(HKEY_CURRENT_USER, SETTINGS_KEY, 0, access, &key) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

}  // namespace

bool storeLinkKey(const char* text)
{
    HKEY key = openUserKey(KEY_WRITE, true);
    if (!key) return false;
    bool stored = false;
    if (!*text) {
        const LONG status = RegDeleteValueA(key, LINK_KEY_VALUE);
        stored = status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
    } else if (loadDataProtection()) {
        DATA_BLOB plain = {static_cast<DWORD>(std::strlen(text)), reinterpret_cast<BYTE*>(const_cast<char*>(text))};
        DATA_BLOB sealed = {};
        if (protectData(&plain, L"Skiprail link key", nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN,
                        &sealed)) {
            stored = RegSetValueExA(key, LINK_KEY_VALUE, 0, REG_BINARY, sealed.pbData, sealed.cbData) ==
                     ERROR_SUCCESS;
            LocalFree(sealed.pbData);
        }
    }
    RegCloseKey(key);
    return stored;
}

bool readStoredLinkKey(char* out, int32_t room)
{
    std::memset(out, 0, room);
    HKEY key = openUserKey(KEY_READ, false);
    if (!key) return false;
    BYTE sealedBytes[2048];
    DWORD size = sizeof sealedBytes;
    DWORD type = 0;
    const bool found = RegQueryValueExA(key, LINK_KEY_VALUE, nullptr, &type, sealedBytes, &size) == ERROR_SUCCESS &&
                       type == REG_BINARY;
    RegCloseKey(key);
    if (!found || !loadDataProtection()) return false;
    DATA_BLOB sealed = {size, sealedBytes};
    DATA_BLOB plain = {};
    if (!unprotectData(&sealed, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &plain)) return false;
    const DWORD n = plain.cbData < static_cast<DWORD>(room - 1) ? plain.cbData : static_cast<DWORD>(room - 1);
    std::memcpy(out, plain.pbData, n);
    SecureZeroMemory(plain.pbData, plain.cbData);
    LocalFree(plain.pbData);
    return n > 0;
}

void loadLinkKey()
{
    char text[KEY_TEXT_AREA] = {};
    readStoredLinkKey(text, sizeof text);
    setKeyFromText(text);
    SecureZeroMemory(text, sizeof text);
}

INT_PTR CALLBACK linkKeyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        onInitDialog(dialog);
        return TRUE;
    case WM_TIMER:
        showState(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_NEW_KEY:   onNewKey(dialog); return TRUE;
        case IDC_CLEAR_KEY:
            SetDlgItemTextA(dialog, IDC_LINK_KEY_TEXT, "");
            SetDlgItemTextA(dialog, IDC_LINK_KEY_NOTE, "OK removes the key: the link is then no longer protected.");
            return TRUE;
        case IDOK:          onOk(dialog); return TRUE;
        case IDCANCEL:      EndDialog(dialog, IDCANCEL); return TRUE;
        default:            return FALSE;
        }
    case WM_DESTROY:
        KillTimer(dialog, IDC_LINK_STATE);
        return FALSE;
    default:
        return FALSE;
    }
}

void runLinkKeyDialog()
{
    if (openDialog) {
        SetForegroundWindow(openDialog);
        return;
    }
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_LINK_KEY), app.mainWindow,
                                           linkKeyDialogProc, 0);
    openDialog = nullptr;
    if (result == IDOK) {
        loadLinkKey();
        endLinkForNewKey(app.mainWindow);
    } else if (result == -1) {
        MessageBoxA(nullptr, "Link Key Dialog Failed.", "Notice", MB_OK | MB_ICONWARNING);
    }
}
