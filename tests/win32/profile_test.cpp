#include "support/conformance.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Profile files: undo files are written entry by entry with these functions
// and read back by a restore, so the exact bytes they leave matter.
namespace {

class Profile : public hmtest::ConformanceTest {
protected:
    std::string Path() const { return ScratchDir() + "\\undo.ini"; }
};

// A write to make: key == nullptr deletes the section, value == nullptr the key.
struct Write {
    const char* section;
    const char* key;
    const char* value;
};

struct LayoutCase {
    const char* what;
    const char* before; // nullptr: no file yet
    std::vector<Write> writes;
    std::string after;
    bool wineRewrites; // Wine 8.0 rewrites the whole file and differs here
};

} // namespace

TEST_F(Profile, WritesEditTheFileInPlace) {
    const LayoutCase cases[] = {
        {"entries and sections in order of writing",
         nullptr,
         {{"App1", "key1", "string1"}, {"App1", "key2", "string2"}, {"App2", "key4", "string4"}},
         "[App1]\r\nkey1=string1\r\nkey2=string2\r\n[App2]\r\nkey4=string4\r\n",
         false},
        {"a new key goes after the last entry of its section",
         "[A]\r\na=1\r\n[B]\r\nb=2\r\n",
         {{"a", "c", "3"}},
         "[A]\r\na=1\r\nc=3\r\n[B]\r\nb=2\r\n",
         false},
        {"blank lines before the next section stay after the new key",
         "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n",
         {{"A", "c", "3"}},
         "[A]\r\na=1\r\nc=3\r\n\r\n[B]\r\nb=2\r\n",
         true},
        {"a replaced entry keeps its line and its spelling",
         "[Sec]\r\nKeyName=old\r\nother=x\r\n",
         {{"SEC", "keyname", "new"}},
         "[Sec]\r\nKeyName=new\r\nother=x\r\n",
         false},
        {"values lose leading blanks and keep trailing ones",
         nullptr,
         {{"S", "k", "  v  "}},
         "[S]\r\nk=v  \r\n",
         false},
        {"an empty value", nullptr, {{"S", "k", ""}}, "[S]\r\nk=\r\n", false},
        {"a line break in a value is written raw",
         nullptr,
         {{"S", "k", "a\r\nb"}},
         "[S]\r\nk=a\r\nb\r\n",
         false},
        {"a key holding '=' is written as is and not found again",
         nullptr,
         {{"S", "a=b", "1"}, {"S", "a=b", "2"}},
         "[S]\r\na=b=1\r\na=b=2\r\n",
         false},
        {"deleting a key and a section",
         "[App1]\r\nkey1=string1\r\nkey2=string2\r\n[App2]\r\nkey4=string4\r\n[App3]\r\nk=v\r\n",
         {{"App1", "KEY2", nullptr}, {"app2", nullptr, nullptr}, {"App3", "k", nullptr}},
         "[App1]\r\nkey1=string1\r\n[App3]\r\n",
         false},
        {"text before the first section is kept byte for byte",
         "; header\r\n\r\nfree text\n[S]\r\nk=1\r\n",
         {{"S", "k", "2"}},
         "; header\r\n\r\nfree text\n[S]\r\nk=2\r\n",
         true},
        {"a last line without its ending gets one",
         "[S]\r\nk=1",
         {{"S", "j", "2"}},
         "[S]\r\nk=1\r\nj=2\r\n",
         false},
    };
    for (const auto& c : cases) {
        DeleteFileA(Path().c_str());
        if (c.before)
            MakeFile("undo.ini", c.before);
        for (const auto& w : c.writes) {
            SetLastError(0xdeadbeef);
            EXPECT_TRUE(WritePrivateProfileStringA(w.section, w.key, w.value, Path().c_str()))
                << c.what << ": error " << GetLastError();
        }
        const std::string after = hmtest::ReadWholeFile(Path());
        if (c.wineRewrites) {
            EXPECT_WINDOWS(after == c.after, c.what);
            if (after != c.after && hmtest::RunningOnWine())
                std::printf("  Wine wrote: %s\n", ::testing::PrintToString(after).c_str());
        } else {
            EXPECT_EQ(c.after, after) << c.what;
        }
    }
}

TEST_F(Profile, WriteRejectsAMissingSectionName) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "key", "string", Path().c_str()));
    EXPECT_EQ(unsigned(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path().c_str()));
}

TEST_F(Profile, WholeSectionWrites) {
    const std::string others = "[T]\r\nt=1\r\n";
    struct Case {
        const char* what;
        const char* before;
        const char* entries; // double-zero-terminated list
        std::string after;
    } cases[] = {
        {"replaces the entries of a section", "[S]\r\na=1\r\nb=2\r\n[T]\r\nt=1\r\n", "x=9\0y=8\0",
         "[S]\r\nx=9\r\ny=8\r\n" + others},
        {"appends a missing section, spelled as given", "[T]\r\nt=1\r\n", "x=9\0",
         others + "[s]\r\nx=9\r\n"},
        {"an empty list leaves a bare header", "[S]\r\na=1\r\n[T]\r\nt=1\r\n", "\0",
         "[S]\r\n" + others},
        {"an empty list writes no missing section", "[T]\r\nt=1\r\n", "\0", others},
    };
    for (const auto& c : cases) {
        DeleteFileA(Path().c_str());
        MakeFile("undo.ini", c.before);
        SetLastError(0xdeadbeef);
        EXPECT_TRUE(WritePrivateProfileSectionA("s", c.entries, Path().c_str()))
            << c.what << ": error " << GetLastError();
        EXPECT_EQ(c.after, hmtest::ReadWholeFile(Path())) << c.what;
    }

    // On a file that does not exist yet, an empty section creates nothing:
    // an undo file must write its entries, not just announce the section.
    DeleteFileA(Path().c_str());
    EXPECT_TRUE(WritePrivateProfileSectionA("S", "\0", Path().c_str()));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(Path().c_str()));
}
