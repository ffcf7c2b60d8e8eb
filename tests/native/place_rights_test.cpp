#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>

#include "app/place_rights.h"

namespace {

// The access lists below are Windows' own defaults (as icacls and SDDL write
// them), with these abbreviations.
const char SYSTEM[] = "S-1-5-18", ADMINS[] = "S-1-5-32-544", USERS[] = "S-1-5-32-545", EVERYONE[] = "S-1-1-0",
           CREATOR_OWNER[] = "S-1-3-0", OWNER_RIGHTS[] = "S-1-3-4", PACKAGES[] = "S-1-15-2-1",
           INSTALLER[] = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
           ANN[] = "S-1-5-21-1004336348-1177238915-682003330-1001";
constexpr uint32_t FULL = 0x1F01FF, MODIFY = 0x1301BF, READ_EXECUTE = 0x1200A9, WRITE = 0x120116,
                   GENERIC_ALL = 0x10000000;

struct E {
    bool deny, inheritOnly;
    uint32_t mask;
    const char* sid;
};
const bool A = false, D = true, IO = true, OBJ = false;

ObjectSecurity listed(const char* owner, std::initializer_list<E> entries)
{
    ObjectSecurity o;
    std::strcpy(o.owner, owner);
    for (const E& e : entries) {
        AccessEntry& entry = o.entries[o.count++];
        entry.deny = e.deny;
        entry.inheritOnly = e.inheritOnly;
        entry.mask = e.mask;
        std::strcpy(entry.sid, e.sid);
    }
    return o;
}

// Ann's token without elevation: Administrators is there for deny entries only,
// so not among what grants.
const char* const ANNS[] = {ANN, EVERYONE, USERS, "S-1-5-11", "S-1-5-4"};
const Holder ANN_UNELEVATED = {ANNS, 5};

}  // namespace

TEST(PlaceRights, OnlyAPlaceNoneButAdministratorsCanChangeIsSafe)
{
    const ObjectSecurity programFiles = listed(INSTALLER, {{A, OBJ, FULL, INSTALLER}, {A, IO, GENERIC_ALL, INSTALLER},
        {A, OBJ, MODIFY, SYSTEM}, {A, IO, GENERIC_ALL, SYSTEM}, {A, OBJ, MODIFY, ADMINS}, {A, IO, GENERIC_ALL, ADMINS},
        {A, OBJ, READ_EXECUTE, USERS}, {A, IO, GENERIC_ALL, CREATOR_OWNER}, {A, OBJ, READ_EXECUTE, PACKAGES}});
    // What an installer running as administrator made inside, folder and files alike.
    const ObjectSecurity installed = listed(ADMINS, {{A, OBJ, FULL, SYSTEM}, {A, OBJ, FULL, ADMINS},
        {A, OBJ, READ_EXECUTE, USERS}, {A, IO, GENERIC_ALL, CREATOR_OWNER}, {A, OBJ, READ_EXECUTE, PACKAGES}});
    for (PlaceKind kind : {PLACE_FILE, PLACE_FOLDER, PLACE_ABOVE})
        EXPECT_FALSE(othersCanChange(installed, kind) || canChange(installed, kind, ANN_UNELEVATED));
    EXPECT_FALSE(othersCanChange(programFiles, PLACE_ABOVE) || canChange(programFiles, PLACE_ABOVE, ANN_UNELEVATED));

    // The user's profile (Downloads and what is unpacked there inherit it):
    // no other user can change it, but whatever Ann runs can.
    const ObjectSecurity profile = listed(ANN, {{A, OBJ, FULL, SYSTEM}, {A, OBJ, FULL, ADMINS}, {A, OBJ, FULL, ANN}});
    EXPECT_FALSE(othersCanChange(profile, PLACE_FOLDER));
    EXPECT_TRUE(canChange(profile, PLACE_FOLDER, ANN_UNELEVATED));
    // Owning alone lets her rewrite the list, unless OWNER RIGHTS says otherwise.
    ObjectSecurity owned = listed(ANN, {{A, OBJ, FULL, ADMINS}, {A, OBJ, READ_EXECUTE, USERS}});
    EXPECT_EQ(grantedRights(owned, ANN_UNELEVATED, changingRights(PLACE_FILE)), RIGHT_WRITE_DAC);
    owned = listed(ANN, {{A, OBJ, FULL, ADMINS}, {A, OBJ, READ_EXECUTE, OWNER_RIGHTS}});
    EXPECT_FALSE(canChange(owned, PLACE_FILE, ANN_UNELEVATED));

    // A file of a safe folder that Users may modify; a folder above that lets
    // them rename what is in it.
    ObjectSecurity file = installed;
    file.entries[file.count++] = listed(ADMINS, {{A, OBJ, MODIFY, USERS}}).entries[0];
    EXPECT_TRUE(othersCanChange(file, PLACE_FILE));
    EXPECT_TRUE(othersCanChange(listed(SYSTEM, {{A, OBJ, FULL, ADMINS}, {A, OBJ, FULL, CREATOR_OWNER},
                                               {A, OBJ, RIGHT_DELETE_CHILD, "S-1-5-11"}}), PLACE_ABOVE));

    // Write inherited from a folder above counts; one passed on to what is
    // made inside does not, nor adding a subfolder at the top of the drive.
    EXPECT_TRUE(othersCanChange(listed(ADMINS, {{A, OBJ, FULL, ADMINS}, {A, OBJ, WRITE, EVERYONE}}), PLACE_FOLDER));
    EXPECT_FALSE(othersCanChange(listed(ADMINS, {{A, OBJ, FULL, ADMINS}, {A, IO, GENERIC_ALL, EVERYONE}}),
                                 PLACE_FOLDER));
    const ObjectSecurity top = listed(INSTALLER, {{A, OBJ, FULL, ADMINS}, {A, OBJ, READ_EXECUTE, USERS},
        {A, IO, MODIFY, "S-1-5-11"}, {A, OBJ, RIGHT_APPEND_DATA, "S-1-5-11"}});
    EXPECT_FALSE(othersCanChange(top, PLACE_TOP));
    EXPECT_TRUE(othersCanChange(top, PLACE_FOLDER));

    // A deny entry wins where it comes first, and only there.
    EXPECT_FALSE(othersCanChange(listed(ADMINS, {{D, OBJ, WRITE | RIGHT_DELETE, EVERYONE}, {A, OBJ, MODIFY, USERS}}),
                                 PLACE_FILE));
    EXPECT_TRUE(othersCanChange(listed(ADMINS, {{A, OBJ, MODIFY, USERS}, {D, OBJ, WRITE | RIGHT_DELETE, EVERYONE}}),
                                PLACE_FILE));

    // No list lets everyone in; a list not read in full is not trusted.
    ObjectSecurity open = installed, partial = installed;
    open.listed = partial.complete = false;
    EXPECT_TRUE(othersCanChange(open, PLACE_FILE));
    EXPECT_TRUE(othersCanChange(partial, PLACE_FILE));
}
