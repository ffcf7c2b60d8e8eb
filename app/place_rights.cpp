#include "app/place_rights.h"

#include <cstring>

namespace {

const char EVERYONE[] = "S-1-1-0";
const char OWNER_RIGHTS[] = "S-1-3-4";

constexpr uint32_t FILE_ALL = 0x1F01FF;
constexpr uint32_t FILE_WRITE = 0x120116;  // FILE_GENERIC_WRITE

// An entry's generic rights as the file system's own: an entry made by hand
// may still hold them.
uint32_t fileRights(uint32_t mask)
{
    if (mask & RIGHT_GENERIC_ALL) mask |= FILE_ALL;
    if (mask & RIGHT_GENERIC_WRITE) mask |= FILE_WRITE;
    return mask;
}

bool holds(const Holder& holder, const char* sid)
{
    for (int32_t i = 0; i < holder.count; ++i)
        if (std::strcmp(holder.sids[i], sid) == 0) return true;
    return false;
}

}  // namespace

uint32_t changingRights(PlaceKind kind)
{
    const uint32_t relist = RIGHT_WRITE_DAC | RIGHT_WRITE_OWNER;
    switch (kind) {
    case PLACE_FILE: return RIGHT_WRITE_DATA | RIGHT_APPEND_DATA | RIGHT_DELETE | relist;
    case PLACE_FOLDER: return RIGHT_WRITE_DATA | RIGHT_APPEND_DATA | RIGHT_DELETE_CHILD | RIGHT_DELETE | relist;
    case PLACE_ABOVE: return RIGHT_DELETE_CHILD | RIGHT_DELETE | relist;
    case PLACE_TOP: return RIGHT_DELETE_CHILD | relist;
    }
    return 0;
}

uint32_t grantedRights(const ObjectSecurity& object, const Holder& holder, uint32_t asked)
{
    if (!object.listed) return asked;
    const bool owns = holds(holder, object.owner);
    bool ownerRightsListed = false;
    for (int32_t i = 0; i < object.count; ++i)
        if (!object.entries[i].inheritOnly && std::strcmp(object.entries[i].sid, OWNER_RIGHTS) == 0)
            ownerRightsListed = true;
    uint32_t granted = owns && !ownerRightsListed ? (RIGHT_READ_CONTROL | RIGHT_WRITE_DAC) & asked : 0;
    uint32_t denied = 0;
    for (int32_t i = 0; i < object.count; ++i) {
        const AccessEntry& entry = object.entries[i];
        if (entry.inheritOnly) continue;
        if (!holds(holder, entry.sid) && !(owns && std::strcmp(entry.sid, OWNER_RIGHTS) == 0)) continue;
        const uint32_t rights = fileRights(entry.mask) & asked;
        if (entry.deny) denied |= rights & ~granted;
        else granted |= rights & ~denied;
    }
    return granted;
}

bool canChange(const ObjectSecurity& object, PlaceKind kind, const Holder& holder)
{
    return !object.complete || grantedRights(object, holder, changingRights(kind)) != 0;
}

bool othersCanChange(const ObjectSecurity& object, PlaceKind kind)
{
    const char* const groups[] = {EVERYONE, "S-1-5-32-545", "S-1-5-11", "S-1-5-4"};
    for (const char* group : groups) {
        const char* const sids[] = {EVERYONE, group};
        if (canChange(object, kind, Holder{sids, group == EVERYONE ? 1 : 2})) return true;
    }
    return false;
}
