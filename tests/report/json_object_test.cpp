// The member table under the reports. Where members land relative to each
// other is proven by the report bytes (tests/engine/unit_scan_report_test.cpp,
// the fix report in tests/fix); here only what those cannot reach.
#include "report/json_object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A signed char would give high bytes another bucket and reorder members.
TEST(JsonObjectHash, BytesAboveSevenBitsCountAsNegative) {
    EXPECT_EQ(0u, JsonObject::HashName(""));
    EXPECT_EQ(0xFFFFFFE9u, JsonObject::HashName("\xE9")); // -23
    EXPECT_EQ(static_cast<DWORD>(97 * 33 - 23), JsonObject::HashName("a\xE9"));
}

TEST(JsonObject, NamesDifferingInCaseAreTwoMembers) {
    JsonObject object;
    object.Set("Fix", "a");
    object.Set("fix", "b");
    EXPECT_EQ(2u, object.Count());
    EXPECT_EQ("a", object.Lookup("Fix")->value);
    EXPECT_EQ("b", object.Lookup("fix")->value);
    EXPECT_EQ(nullptr, object.Lookup("FIX"));
}

// A fix request names one member per problem: the table grows several times
// and every member must still be found afterwards. (Values are the names
// reversed; GCC 12 warns falsely on "literal" + std::string, bug 105329.)
std::string Reversed(std::string text) {
    return std::string(text.rbegin(), text.rend());
}

TEST(JsonObject, EveryMemberIsFoundAfterTheTableGrows) {
    JsonObject object;
    for (int i = 0; i < 1000; ++i)
        object.Set(std::to_string(i), Reversed(std::to_string(i)));
    ASSERT_EQ(1000u, object.Count());
    for (int i = 0; i < 1000; ++i) {
        const JsonMember* member = object.Lookup(std::to_string(i));
        ASSERT_NE(nullptr, member) << i;
        EXPECT_EQ(Reversed(std::to_string(i)), member->value);
    }
    object.RemoveAll();
    EXPECT_TRUE(object.IsEmpty());
    EXPECT_EQ(nullptr, object.Lookup("0"));
}

} // namespace
