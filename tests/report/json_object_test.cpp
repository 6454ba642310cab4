#include "report/json_object.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

std::vector<std::string> NamesInOrder(const JsonObject& object) {
    std::vector<std::string> names;
    object.ForEach([&names](const JsonMember& member) { names.push_back(member.name); });
    return names;
}

using Names = std::vector<std::string>;

std::string Numbered(const char* prefix, int number) {
    std::string name(prefix);
    name.append(std::to_string(number));
    return name;
}

// The reports' member order follows from these placements.
TEST(JsonObjectHash, ProgramNamesFallIntoTheirBuckets) {
    const struct {
        const char* name;
        DWORD bucket;
    } cases[] = {
        {"value name", 0}, {"error", 2},     {"user name", 7}, {"new value", 7}, {"key path", 9},
        {"id", 12},        {"fixes", 12},    {"finished", 13}, {"fixed", 14},    {"scan", 14},
        {"section", 15},   {"problems", 15}, {"fix", 15},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.bucket, JsonObject::HashName(c.name) % 17) << c.name;
}

TEST(JsonObjectHash, BytesAboveSevenBitsCountAsNegative) {
    EXPECT_EQ(0u, JsonObject::HashName(""));
    EXPECT_EQ(0xFFFFFFE9u, JsonObject::HashName("\xE9")); // -23
    EXPECT_EQ(static_cast<DWORD>(97 * 33 - 23), JsonObject::HashName("a\xE9"));
}

TEST(JsonObject, NewObjectIsEmptyWithoutBucketArray) {
    JsonObject object;
    EXPECT_TRUE(object.IsEmpty());
    EXPECT_FALSE(object.HasBucketArray());
    EXPECT_EQ(17u, object.BucketCount());
    EXPECT_TRUE(NamesInOrder(object).empty());
    EXPECT_EQ(nullptr, object.Lookup("id"));

    object.Set("id", "0");
    EXPECT_TRUE(object.HasBucketArray());
    EXPECT_EQ(1u, object.Count());
}

TEST(JsonObject, NewestMemberOfABucketComesFirst) {
    JsonObject object;
    object.Set("user name", "u");
    object.Set("new value", "n");
    object.Set("value name", "v"); // bucket 0
    object.Set("key path", "k");   // bucket 9
    EXPECT_EQ((Names{"value name", "new value", "user name", "key path"}), NamesInOrder(object));
}

TEST(JsonObject, SettingAnExistingMemberKeepsItsPlace) {
    JsonObject object;
    object.Set("user name", "first");
    object.Set("new value", "n");
    object.Set("user name", "second");
    EXPECT_EQ(2u, object.Count());
    EXPECT_EQ((Names{"new value", "user name"}), NamesInOrder(object));
    ASSERT_NE(nullptr, object.Lookup("user name"));
    EXPECT_EQ("second", object.Lookup("user name")->value);
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

TEST(JsonObject, CopyReversesMembersThatShareABucket) {
    JsonObject source;
    source.Set("key path", "k");
    source.Set("user name", "  u  ");
    source.Set("new value", "n");
    source.Set("id", "0");

    const JsonObject copy = CopyObject(source);
    EXPECT_EQ((Names{"new value", "user name", "key path", "id"}), NamesInOrder(source));
    EXPECT_EQ((Names{"user name", "new value", "key path", "id"}), NamesInOrder(copy));
    EXPECT_EQ("u", copy.Lookup("user name")->value) << "the copy stores with SetString";
    EXPECT_EQ(17u, copy.BucketCount());
}

// Two names whose hashes agree modulo 17 and modulo 53 share a bucket before
// and after the table grows.
std::pair<std::string, std::string> NamesSharingBucketsOf17And53() {
    const DWORD first = JsonObject::HashName("a0") % (17 * 53);
    for (int i = 1;; ++i) {
        const std::string candidate = Numbered("a", i);
        if (JsonObject::HashName(candidate) % (17 * 53) == first)
            return {"a0", candidate};
    }
}

TEST(JsonObject, ThirtyNinthMemberGrowsTableTo53Buckets) {
    const auto [early, late] = NamesSharingBucketsOf17And53();
    JsonObject object;
    object.Set(early, "");
    object.Set(late, "");
    for (int i = 0; object.Count() < 38; ++i)
        object.Set(Numbered("b", i), "");
    EXPECT_EQ(17u, object.BucketCount()) << "38 members fit 17 buckets";
    Names before = NamesInOrder(object);
    EXPECT_LT(std::find(before.begin(), before.end(), late),
              std::find(before.begin(), before.end(), early));

    object.Set("last", "");
    EXPECT_EQ(39u, object.Count());
    EXPECT_EQ(53u, object.BucketCount());
    // The rebuild walks each old chain from its head onto new chain heads.
    Names after = NamesInOrder(object);
    EXPECT_LT(std::find(after.begin(), after.end(), early),
              std::find(after.begin(), after.end(), late));
    for (const std::string& name : before)
        EXPECT_NE(nullptr, object.Lookup(name)) << name;
}

TEST(JsonObject, RemoveAllKeepsTheGrownBucketCount) {
    JsonObject object;
    for (int i = 0; i < 39; ++i)
        object.Set(Numbered("m", i), "v");
    ASSERT_EQ(53u, object.BucketCount());

    object.RemoveAll();
    EXPECT_TRUE(object.IsEmpty());
    EXPECT_FALSE(object.HasBucketArray());
    EXPECT_EQ(nullptr, object.Lookup("m0"));
    object.Set("id", "1");
    EXPECT_EQ(53u, object.BucketCount());
    EXPECT_EQ("1", object.Lookup("id")->value);
}

TEST(JsonObject, BucketCountForMemberCount) {
    const struct {
        DWORD members;
        DWORD buckets;
    } cases[] = {
        {0, 17},
        {12, 17},
        {13, 17},
        {17, 23},
        {39, 53},
        {40, 53},
        {41, 67},
        {773, 1031},
        {774, 1291},
        {9987066, 13316089},
        {9987067, 13316089},
        {10000000, 13333333}, // beyond the last prime: the estimate
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.buckets, PickBucketCount(c.members)) << c.members << " members";
}

TEST(JsonObjectArray, CapacityGrowsByAnEighthAtLeastFour) {
    JsonObjectArray array;
    JsonObject element;
    element.Set("id", "0");
    std::vector<DWORD> capacities;
    for (int i = 0; i < 50; ++i) {
        array.Add(element);
        if (capacities.empty() || capacities.back() != array.Capacity())
            capacities.push_back(array.Capacity());
    }
    EXPECT_EQ(50u, array.Size());
    EXPECT_EQ((std::vector<DWORD>{1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51}), capacities);
}

TEST(JsonObjectArray, ElementsAreCopiesInOrderOfAddition) {
    JsonObjectArray array;
    JsonObject element;
    for (int i = 0; i < 3; ++i) {
        element.Set("id", std::to_string(i));
        element.Set("user name", "u");
        element.Set("new value", "n");
        array.Add(element);
    }
    element.Set("id", "changed");
    ASSERT_EQ(3u, array.Size());
    for (DWORD i = 0; i < 3; ++i) {
        EXPECT_EQ(std::to_string(i), array[i].Lookup("id")->value);
        EXPECT_EQ((Names{"user name", "new value", "id"}), NamesInOrder(array[i]));
    }
}

} // namespace
