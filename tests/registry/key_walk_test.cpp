// The one walk and the one recursive delete end on the first failure below
// the top and return it, rather than passing over what they could not reach.
#include "registry/key_alias.h"
#include "registry/key_walk.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

#include <set>

namespace {

constexpr char kTree[] = "HKEY_CURRENT_USER\\Software\\HmWalk";

class CountingVisitor : public KeyVisitor {
public:
    LONG EnterKey(RegKey&, const std::string&) override {
        ++m_entered;
        return ERROR_SUCCESS;
    }
    int m_entered = 0;
};

// HmWalk\A, HmWalk\Denied (denied as given), HmWalk\Zed: the denied key
// comes between the other two in index order.
void PlantTree(hmtest::MachineBuilder& machine, hmtest::KeyDenial denial) {
    const std::string tree = kTree;
    machine.String(tree + "\\A", "v", "x")
        .String(tree + "\\Denied", "v", "y")
        .Key(tree + "\\Zed")
        .Deny(tree + "\\Denied", denial);
}

TEST(KeyWalk, ASubkeyThatCannotBeReadEndsTheWalkWithItsStatus) {
    hmtest::MachineBuilder machine;
    PlantTree(machine, hmtest::KeyDenial::Read);
    RETURN_UNLESS_BUILT(machine);
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenByText(kTree, KEY_READ));
    CountingVisitor visitor;
    EXPECT_EQ(ERROR_ACCESS_DENIED, WalkKeyTree(key, visitor));
    EXPECT_EQ(2, visitor.m_entered) << "the top and A, nothing after the denied key";
}

TEST(KeyWalk, ADeleteStopsAtASubkeyTheUserMayNotChangeAndKeepsItsParent) {
    hmtest::MachineBuilder machine;
    PlantTree(machine, hmtest::KeyDenial::Write);
    RETURN_UNLESS_BUILT(machine);
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_CURRENT_USER, "Software\\HmWalk", 0));
    EXPECT_FALSE(hmtest::KeyExists(std::string(kTree) + "\\A")) << "deleted before the failure";
    EXPECT_TRUE(hmtest::KeyExists(std::string(kTree) + "\\Denied"));
    EXPECT_TRUE(hmtest::KeyExists(std::string(kTree) + "\\Zed"));
}

// Every alias of a classes key leads to the key that holds it. The user's
// classes hive is linked only on Windows, so its rows use a made-up machine:
// user S-1 with HKEY_USERS\S-1_Classes merged and linked, holding .own;
// S-2 without a link.
TEST(KeyAlias, EveryNameOfAClassesKeyLeadsToItsBackingKey) {
    const std::set<std::string> existing = {"HKEY_USERS\\S-1_Classes\\.own"};
    const auto exists = [&](const std::string& path) { return existing.count(path) != 0; };
    const KeyAliasFacts windows{"S-1", {"S-1"}, exists};
    const KeyAliasFacts wine{"", {}, exists};
    const struct {
        const KeyAliasFacts& facts;
        const char* path;
        const char* backing;
    } rows[] = {
        {wine, "HKEY_CLASSES_ROOT\\.txt\\ShellNew", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt\\ShellNew"},
        {wine, "hkey_classes_root", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"},
        {wine, "HKEY_CLASSES_ROOTX\\a", "HKEY_CLASSES_ROOTX\\a"},
        {wine, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt"},
        {wine, "HKEY_USERS\\S-1\\Software\\Classes\\.own", "HKEY_USERS\\S-1\\Software\\Classes\\.own"},
        {windows, "HKEY_CLASSES_ROOT\\.own", "HKEY_USERS\\S-1_Classes\\.own"},
        {windows, "HKEY_CLASSES_ROOT\\.txt", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt"},
        {windows, "HKEY_USERS\\s-1\\Software\\Classes\\.own", "HKEY_USERS\\s-1_Classes\\.own"},
        {windows, "HKEY_USERS\\S-1\\SOFTWARE\\CLASSES", "HKEY_USERS\\S-1_Classes"},
        {windows, "HKEY_USERS\\S-1\\Software\\ClassesX\\a", "HKEY_USERS\\S-1\\Software\\ClassesX\\a"},
        {windows, "HKEY_USERS\\S-2\\Software\\Classes\\.own", "HKEY_USERS\\S-2\\Software\\Classes\\.own"},
        {windows, "HKEY_USERS\\S-1_Classes\\.own", "HKEY_USERS\\S-1_Classes\\.own"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.backing, BackingKeyPath(row.path, row.facts)) << row.path;
}

} // namespace
