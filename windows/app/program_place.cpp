#include "windows/app/program_place.h"

#include "app/place_rights.h"
#include "windows/app/startup.h"  // <windows.h> after <winsock2.h>

#include <sddl.h>

#include <cwchar>

namespace {

// Token information classes and elevation types of Windows Vista.
const int TOKEN_ELEVATION_TYPE = 18, TOKEN_LINKED_TOKEN = 19;
const DWORD ELEVATION_DEFAULT = 1, ELEVATION_FULL = 2;

// Entry types of an access list beyond plain allow and deny.
const BYTE ALLOWED_OBJECT = 5, ALLOWED_CALLBACK = 9, ALLOWED_CALLBACK_OBJECT = 11;

// The token the user's programs run with without elevation, as one the access
// check takes (an impersonation token). *token stays null where there is none
// below this program's own (User Account Control off, or the built-in
// Administrator): every program of the user runs as administrator already.
bool unelevatedToken(HANDLE* token)
{
    *token = nullptr;
    HANDLE own = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &own)) return false;
    DWORD type = ELEVATION_DEFAULT, size = 0;
    // Before Windows Vista there is no elevation: the token is the user's own.
    GetTokenInformation(own, static_cast<TOKEN_INFORMATION_CLASS>(TOKEN_ELEVATION_TYPE), &type, sizeof type, &size);
    bool ok = true;
    HANDLE base = own;
    if (type == ELEVATION_FULL) {
        base = nullptr;
        ok = GetTokenInformation(own, static_cast<TOKEN_INFORMATION_CLASS>(TOKEN_LINKED_TOKEN), &base, sizeof base,
                                 &size) &&
             base;
    } else if (type == ELEVATION_DEFAULT && tokenElevated(own)) {
        base = nullptr;
    }
    if (ok && base) {
        TOKEN_TYPE kind = TokenPrimary;
        // The linked token comes as an impersonation token already, where the
        // handle may not allow a copy.
        if (GetTokenInformation(base, TokenType, &kind, sizeof kind, &size) && kind == TokenImpersonation) {
            *token = base;
            base = nullptr;
        } else {
            ok = DuplicateToken(base, SecurityIdentification, token) != FALSE;
        }
    }
    if (base && base != own) CloseHandle(base);
    CloseHandle(own);
    return ok;
}

// A file's or folder's owner, group and access list, on the heap; null if
// they cannot be read.
PSECURITY_DESCRIPTOR readDescriptor(const wchar_t* path)
{
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                                       DACL_SECURITY_INFORMATION;
    DWORD size = 0;
    GetFileSecurityW(path, parts, nullptr, 0, &size);
    if (size == 0) return nullptr;
    PSECURITY_DESCRIPTOR descriptor = HeapAlloc(GetProcessHeap(), 0, size);
    if (descriptor && !GetFileSecurityW(path, parts, descriptor, size, &size)) {
        HeapFree(GetProcessHeap(), 0, descriptor);
        descriptor = nullptr;
    }
    return descriptor;
}

bool sidText(PSID sid, char (&out)[SID_TEXT_SIZE])
{
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text)) return false;
    lstrcpynA(out, text, SID_TEXT_SIZE);
    LocalFree(text);
    return true;
}

// The descriptor's owner and access list as the portable check reads them. An
// entry that allows on a condition counts as allowing; one that denies on a
// condition, or only for some object types, is left out; an allowing entry
// that cannot be read leaves the list incomplete.
void readAccessList(PSECURITY_DESCRIPTOR descriptor, ObjectSecurity& object)
{
    PSID owner = nullptr;
    BOOL defaulted = FALSE, present = FALSE;
    if (GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) && owner) sidText(owner, object.owner);
    PACL list = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted)) {
        object.complete = false;
        return;
    }
    if (!present || !list) {
        object.listed = false;
        return;
    }
    ACL_SIZE_INFORMATION sizes = {};
    if (!GetAclInformation(list, &sizes, sizeof sizes, AclSizeInformation)) {
        object.complete = false;
        return;
    }
    for (DWORD i = 0; i < sizes.AceCount; ++i) {
        ACE_HEADER* header = nullptr;
        if (!GetAce(list, i, reinterpret_cast<void**>(&header))) {
            object.complete = false;
            return;
        }
        const BYTE type = header->AceType;
        const bool allow = type == ACCESS_ALLOWED_ACE_TYPE || type == ALLOWED_CALLBACK;
        if (type == ALLOWED_OBJECT || type == ALLOWED_CALLBACK_OBJECT) object.complete = false;
        if (!allow && type != ACCESS_DENIED_ACE_TYPE) continue;
        if (object.count == ACCESS_ENTRIES) {
            object.complete = false;
            return;
        }
        // Allow, deny and callback entries alike: header, mask, then the SID.
        const ACCESS_ALLOWED_ACE* ace = reinterpret_cast<const ACCESS_ALLOWED_ACE*>(header);
        AccessEntry& entry = object.entries[object.count];
        entry.deny = !allow;
        entry.inheritOnly = (header->AceFlags & INHERIT_ONLY_ACE) != 0;
        entry.mask = ace->Mask;
        if (!sidText(const_cast<DWORD*>(&ace->SidStart), entry.sid)) {
            object.complete = false;
            return;
        }
        ++object.count;
    }
}

// The system's own access check for the token: the rights it would be granted.
bool tokenCanChange(PSECURITY_DESCRIPTOR descriptor, HANDLE token, PlaceKind kind)
{
    if (!token) return false;
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    union {
        PRIVILEGE_SET set;
        BYTE bytes[256];
    } privileges;
    DWORD privilegesSize = sizeof privileges, granted = 0;
    BOOL allowed = FALSE;
    if (!AccessCheck(descriptor, token, MAXIMUM_ALLOWED, &mapping, &privileges.set, &privilegesSize, &granted,
                     &allowed))
        return true;  // not known: not safe
    return allowed && (granted & changingRights(kind)) != 0;
}

bool placeSafe(const wchar_t* path, PlaceKind kind, HANDLE token)
{
    PSECURITY_DESCRIPTOR descriptor = readDescriptor(path);
    if (!descriptor) return false;
    ObjectSecurity object;  // 12 KB, on the stack of whichever thread asks
    readAccessList(descriptor, object);
    const bool safe = !othersCanChange(object, kind) && !tokenCanChange(descriptor, token, kind);
    HeapFree(GetProcessHeap(), 0, descriptor);
    return safe;
}

// The length of the path's top, "C:\" or "\\server\share\"; 0 if neither.
int topLength(const wchar_t* path)
{
    if (path[0] && path[1] == L':' && path[2] == L'\\') return 3;
    if (path[0] == L'\\' && path[1] == L'\\') {
        int separators = 0;
        for (int i = 2; path[i]; ++i)
            if (path[i] == L'\\' && ++separators == 2) return i + 1;
    }
    return 0;
}

// The folders from the file's own up to the top of its drive: each can be
// renamed away and another put in its place by whoever may delete it or what
// is in the folder above.
bool foldersSafe(const wchar_t* file, HANDLE token)
{
    wchar_t folder[MAX_PATH + 1];
    lstrcpynW(folder, file, MAX_PATH + 1);
    const int top = topLength(folder);
    if (top == 0) return false;
    PlaceKind kind = PLACE_FOLDER;
    for (int length = lstrlenW(folder);;) {
        while (length > top && folder[length - 1] != L'\\') --length;
        if (length <= top) {
            folder[top] = 0;
            return placeSafe(folder, kind == PLACE_FOLDER ? PLACE_FOLDER : PLACE_TOP, token);
        }
        folder[--length] = 0;
        if (!placeSafe(folder, kind, token)) return false;
        kind = PLACE_ABOVE;
    }
}

bool modulePath(HMODULE module, wchar_t (&path)[MAX_PATH + 1])
{
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return length > 0 && length < MAX_PATH;
}

// Whether two files lie in one folder.
bool sameFolder(const wchar_t* a, const wchar_t* b)
{
    int end = lstrlenW(a);
    while (end > 0 && a[end - 1] != L'\\') --end;
    return end > 0 && _wcsnicmp(a, b, end) == 0 && !std::wcschr(b + end, L'\\');
}

}  // namespace

bool programPlaceSafe()
{
    wchar_t program[MAX_PATH + 1], hook[MAX_PATH + 1];
    const HMODULE hookModule = GetModuleHandleA("srhook.dll");
    HANDLE token = nullptr;
    if (!hookModule || !modulePath(nullptr, program) || !modulePath(hookModule, hook) || !unelevatedToken(&token))
        return false;
    const bool safe = placeSafe(program, PLACE_FILE, token) && placeSafe(hook, PLACE_FILE, token) &&
                      foldersSafe(program, token) && (sameFolder(program, hook) || foldersSafe(hook, token));
    if (token) CloseHandle(token);
    return safe;
}
