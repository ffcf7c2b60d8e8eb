// Who can change the program's files and folders, read from their access
// lists as Windows reads them. A task that starts the program with
// administrator rights at every logon is safe only where no program the user
// runs without elevation, and no other user, can replace what it starts. No
// <windows.h>.
#pragma once

#include <cstdint>

constexpr int32_t SID_TEXT_SIZE = 192;   // "S-1-5-21-..." with 15 sub-authorities fits
constexpr int32_t ACCESS_ENTRIES = 64;

// Rights of a file or folder, with Windows' values.
constexpr uint32_t RIGHT_WRITE_DATA = 0x2;            // a folder: add a file
constexpr uint32_t RIGHT_APPEND_DATA = 0x4;           // a folder: add a subfolder
constexpr uint32_t RIGHT_DELETE_CHILD = 0x40;         // a folder: delete or rename what is in it
constexpr uint32_t RIGHT_DELETE = 0x10000;            // delete or rename it
constexpr uint32_t RIGHT_READ_CONTROL = 0x20000;
constexpr uint32_t RIGHT_WRITE_DAC = 0x40000;         // change its access list
constexpr uint32_t RIGHT_WRITE_OWNER = 0x80000;       // take it over
constexpr uint32_t RIGHT_GENERIC_WRITE = 0x40000000;  // as an entry may hold them
constexpr uint32_t RIGHT_GENERIC_ALL = 0x10000000;

// One allow or deny entry of an access list, its SID as text ("S-1-5-32-545").
struct AccessEntry {
    bool deny = false;
    bool inheritOnly = false;  // only for what is made inside: not the object itself
    uint32_t mask = 0;
    char sid[SID_TEXT_SIZE] = {};
};

// An object's owner and access list.
struct ObjectSecurity {
    char owner[SID_TEXT_SIZE] = {};
    bool listed = true;     // false: no access list at all, which lets everyone do anything
    bool complete = true;   // false: entries that did not fit or are not understood
    int32_t count = 0;
    AccessEntry entries[ACCESS_ENTRIES];
};

// A token as far as an access list goes: its user and the groups it holds.
struct Holder {
    const char* const* sids;
    int32_t count;
};

// What is checked, and which of its rights would let someone change what
// runs: the program's files (write, delete, re-own or re-list them); its
// folder (that too, and add, delete or rename what is in it, such as a DLL
// the program would load); a folder above it (rename what leads to it); the
// top of the drive (the same, though it cannot be renamed itself).
enum PlaceKind { PLACE_FILE, PLACE_FOLDER, PLACE_ABOVE, PLACE_TOP };
uint32_t changingRights(PlaceKind kind);

// The rights among `asked` that the holder gets, as Windows' access check
// grants them: the owner always has READ_CONTROL and WRITE_DAC unless an
// OWNER RIGHTS entry says what it has; then the entries in order, each right
// settled by the first that names it (a deny placed after an allow is too
// late).
uint32_t grantedRights(const ObjectSecurity& object, const Holder& holder, uint32_t asked);

// Whether the holder can change the object in a way that matters for its kind.
bool canChange(const ObjectSecurity& object, PlaceKind kind, const Holder& holder);
// Whether the groups every signed-in user is in can: Everyone, and Users,
// Authenticated Users or INTERACTIVE (each as a token that holds Everyone too).
// An access list not read in full counts as one they can.
bool othersCanChange(const ObjectSecurity& object, PlaceKind kind);
