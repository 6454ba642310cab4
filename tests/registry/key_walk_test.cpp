// The one walk and the one recursive delete end on the first failure below
// the top and return it, rather than passing over what they could not reach.
#include "registry/key_walk.h"
#include "support/machine_builder.h"

#include <gtest/gtest.h>

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
void BuildTreeWith(hmtest::MachineBuilder& machine, hmtest::KeyDenial denial) {
    const std::string tree = kTree;
    machine.String(tree + "\\A", "v", "x")
        .String(tree + "\\Denied", "v", "y")
        .Key(tree + "\\Zed")
        .Deny(tree + "\\Denied", denial);
    machine.Build();
}

TEST(KeyWalk, ASubkeyThatCannotBeReadEndsTheWalkWithItsStatus) {
    hmtest::MachineBuilder machine;
    BuildTreeWith(machine, hmtest::KeyDenial::Read);
    if (HasFatalFailure() || IsSkipped())
        return;
    RegKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.OpenByText(kTree, KEY_READ));
    CountingVisitor visitor;
    EXPECT_EQ(ERROR_ACCESS_DENIED, WalkKeyTree(key, visitor));
    EXPECT_EQ(2, visitor.m_entered) << "the top and A, nothing after the denied key";
}

TEST(KeyWalk, ADeleteStopsAtASubkeyTheUserMayNotChangeAndKeepsItsParent) {
    hmtest::MachineBuilder machine;
    BuildTreeWith(machine, hmtest::KeyDenial::Write);
    if (HasFatalFailure() || IsSkipped())
        return;
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_CURRENT_USER, "Software\\HmWalk", 0));
    EXPECT_FALSE(hmtest::KeyExists(std::string(kTree) + "\\A")) << "deleted before the failure";
    EXPECT_TRUE(hmtest::KeyExists(std::string(kTree) + "\\Denied"));
    EXPECT_TRUE(hmtest::KeyExists(std::string(kTree) + "\\Zed"));
}

} // namespace
