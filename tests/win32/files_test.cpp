// Files and drives: the path rules, FindFirstFileA's DOS wildcards, and the
// error codes of the file functions, as Windows has them.
#include "support/conformance.h"

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD kMarker = 0xdeadbeef;
constexpr DWORD kFile = 0;   // expected: a file (attributes without the folder bit)
constexpr DWORD kFolder = 1; // expected: a folder

class FilesTest : public hmtest::ConformanceTest {
protected:
    // "<scratch>\<relative>"
    std::string At(const std::string& relative) const { return ScratchDir() + "\\" + relative; }
};

struct AttributeCase {
    const char* path; // see Expand
    DWORD expected;   // kFile, kFolder or the error code
};

// '@' stands for the scratch folder, '%' for its name alone.
std::string Expand(const char* pattern, const std::string& scratch) {
    std::string text;
    for (const char* p = pattern; *p; ++p) {
        if (*p == '@')
            text += scratch;
        else if (*p == '%')
            text += scratch.substr(3);
        else
            text += *p;
    }
    return text;
}

TEST_F(FilesTest, GetFileAttributesFollowsWindowsPathRules) {
    MakeFile("a.txt", "x");
    MakeFolder("dir");
    MakeFile("dir\\inner.txt");
    const AttributeCase cases[] = {
        {"@\\a.txt", kFile},
        {"@\\A.TXT", kFile},
        {"@\\a.txt. . ", kFile},
        {"@\\dir", kFolder},
        {"@\\dir\\", kFolder},
        {"@\\dir.\\", kFolder},
        {"@\\dir\\ ", kFolder},
        {"@\\dir.\\inner.txt", kFile},
        {"@\\\\dir\\\\inner.txt", kFile},
        {"@/dir/inner.txt", kFile},
        {"@\\dir\\..\\a.txt", kFile},
        {"@\\dir\\.\\inner.txt", kFile},
        {"@\\a.txt\\.", kFile},
        {"@\\...", kFolder},
        {"C:\\..\\..\\%\\a.txt", kFile},
        {"@\\a.txt\\", ERROR_PATH_NOT_FOUND},
        {"@\\a.txt\\x", ERROR_PATH_NOT_FOUND},
        {"@\\missing", ERROR_FILE_NOT_FOUND},
        {"@\\missing\\", ERROR_FILE_NOT_FOUND},
        {"@\\missing\\x", ERROR_PATH_NOT_FOUND},
        {"@\\dir \\inner.txt", ERROR_PATH_NOT_FOUND}, // a blank before a separator stays
        {"@\\dir. \\inner.txt", ERROR_PATH_NOT_FOUND},
        {"@\\dir \\", ERROR_FILE_NOT_FOUND},
        {"", ERROR_PATH_NOT_FOUND},
        {"@\\a*.txt", ERROR_INVALID_NAME},
        {"@\\a?.txt", ERROR_INVALID_NAME},
        {"@\\*\\inner.txt", ERROR_INVALID_NAME},
        {"@\\a|b", ERROR_INVALID_NAME},
        {"@\\a<b", ERROR_INVALID_NAME},
        {"@\\a\"b", ERROR_INVALID_NAME},
        {"C:", kFolder},
        {"C:\\", kFolder},
        {"c:/", kFolder},
        {"\\\\?\\@\\a.txt", kFile},
        {"\\\\?\\@\\a.txt.", ERROR_FILE_NOT_FOUND}, // no trailing-dot rule behind \\?\ .
    };
    for (const auto& test : cases) {
        const std::string full = Expand(test.path, ScratchDir());
        SetLastError(kMarker);
        const DWORD attributes = GetFileAttributesA(full.c_str());
        if (test.expected == kFile || test.expected == kFolder) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, attributes)
                << "[" << full << "] error " << GetLastError();
            const DWORD folderBit = attributes & FILE_ATTRIBUTE_DIRECTORY;
            EXPECT_EQ(test.expected == kFolder ? FILE_ATTRIBUTE_DIRECTORY : 0u, folderBit)
                << "[" << full << "] attributes 0x" << std::hex << attributes;
        } else {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, attributes) << "[" << full << "]";
            EXPECT_EQ(test.expected, GetLastError()) << "[" << full << "]";
        }
    }
}

// A folder found missing is looked for again: the answer follows the disk.
TEST_F(FilesTest, AFolderFoundMissingIsSeenOnceMade) {
    const std::string path = At("later\\a.txt");
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), GetLastError());
    MakeFolder("later");
    MakeFile("later\\a.txt");
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
}

char UnmappedDriveLetter() {
    const DWORD drives = GetLogicalDrives();
    for (char letter = 'Q'; letter <= 'Y'; ++letter) {
        if (!(drives & (1u << (letter - 'A'))))
            return letter;
    }
    return 0;
}

TEST_F(FilesTest, UnmappedDriveIsAMissingPath) {
    const char letter = UnmappedDriveLetter();
    ASSERT_NE(0, letter);
    const std::string path = std::string(1, letter) + ":\\x.txt";
    SetLastError(kMarker);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(path.c_str()));
    const DWORD error = GetLastError();
    EXPECT_WINDOWS(error == ERROR_PATH_NOT_FOUND, "Wine reports 2 for a drive that does not exist");
    EXPECT_TRUE(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) << error;
}

// Every name a search returns, "." and ".." left out, sorted and joined with
// blanks; a folder's name ends in '\\'.
std::string Search(const std::string& pattern, DWORD* error) {
    std::vector<std::pair<std::string, bool>> found; // name, folder
    WIN32_FIND_DATAA data;
    SetLastError(kMarker);
    HANDLE find = FindFirstFileA(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return {};
    }
    do {
        std::string name = data.cFileName;
        if (name != "." && name != "..")
            found.emplace_back(name, data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (FindNextFileA(find, &data));
    *error = GetLastError();
    FindClose(find);
    std::sort(found.begin(), found.end());
    std::string text;
    for (const auto& [name, folder] : found)
        text += (text.empty() ? "" : " ") + name + (folder ? "\\" : "");
    return text;
}

struct PatternCase {
    const char* pattern;
    const char* expected; // names separated by blanks, sorted
    const char* wineDifference = nullptr;
};

TEST_F(FilesTest, FindFirstFileMatchesDosWildcards) {
    for (const char* file : {"a", "a.txt", "ab.txt", "a.b.txt", "abc.txt.bak", "name.exe", "noext"})
        MakeFile(file);
    MakeFolder("name");
    MakeFolder("dir");
    const PatternCase cases[] = {
        {"name.*", "name\\ name.exe"},
        {"name", "name\\"},
        {"NAME.EXE", "name.exe"},
        {"noext.*", "noext"},
        {"a.txt ", "a.txt"},
        {"*.txt", "a.b.txt a.txt ab.txt"},
        {"*.bak", "abc.txt.bak"},
        {"a*", "a a.b.txt a.txt ab.txt abc.txt.bak"},
        {"*", "a a.b.txt a.txt ab.txt abc.txt.bak dir\\ name\\ name.exe noext"},
        {"*.*", "a a.b.txt a.txt ab.txt abc.txt.bak dir\\ name\\ name.exe noext"},
        {"*.", "a dir\\ name\\ noext", "Wine lists every name for *."},
        {"a?.txt", "a.txt ab.txt", "Wine's ? never matches nothing before a dot"},
        {"a?", "a", "Wine's ? never matches nothing at the end"},
        {"??.txt", "a.txt ab.txt", "Wine's ? never matches nothing before a dot"},
    };
    for (const auto& test : cases) {
        DWORD error = 0;
        const std::string names = Search(At(test.pattern), &error);
        if (test.wineDifference) {
            EXPECT_WINDOWS(names == test.expected, test.wineDifference);
            continue;
        }
        EXPECT_EQ(test.expected, names) << "pattern [" << test.pattern << "]";
        EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), error)
            << "pattern [" << test.pattern << "]";
    }
}

TEST_F(FilesTest, FindFirstFileReportsTheSize) {
    MakeFile("name.exe", "12345");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(At("NAME.EXE").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    EXPECT_STREQ("name.exe", data.cFileName);
    EXPECT_EQ(5u, data.nFileSizeLow);
    EXPECT_EQ(0u, data.nFileSizeHigh);
    FindClose(find);
}

TEST_F(FilesTest, FindFirstFileFailures) {
    MakeFolder("dir");
    MakeFile("a.txt");
    const struct {
        std::string pattern;
        DWORD error;
    } cases[] = {
        {At("dir\\"), ERROR_FILE_NOT_FOUND},
        {"C:\\", ERROR_FILE_NOT_FOUND},
        {At("nothing*"), ERROR_FILE_NOT_FOUND},
        {At("nothing"), ERROR_FILE_NOT_FOUND},
        {At("missing\\*"), ERROR_PATH_NOT_FOUND},
        {At("*\\a.txt"), ERROR_INVALID_NAME},
        {"", ERROR_PATH_NOT_FOUND},
    };
    for (const auto& test : cases) {
        WIN32_FIND_DATAA data;
        SetLastError(kMarker);
        EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(test.pattern.c_str(), &data))
            << "[" << test.pattern << "]";
        EXPECT_EQ(test.error, GetLastError()) << "[" << test.pattern << "]";
    }
    SetLastError(kMarker);
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

// A folder's listing starts with "." and ".."; a drive's root has neither.
TEST_F(FilesTest, DotEntriesOnlyBelowTheRoot) {
    MakeFolder("empty");
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(At("empty\\*").c_str(), &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    std::vector<std::string> names{data.cFileName};
    while (FindNextFileA(find, &data))
        names.push_back(data.cFileName);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_MORE_FILES), GetLastError());
    FindClose(find);
    EXPECT_EQ((std::vector<std::string>{".", ".."}), names);

    find = FindFirstFileA("C:\\*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, find);
    do {
        EXPECT_STRNE(".", data.cFileName);
        EXPECT_STRNE("..", data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

HANDLE Open(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

TEST_F(FilesTest, CreateFileDispositions) {
    MakeFile("old.txt", "old contents");
    MakeFolder("dir");
    const struct {
        std::string path;
        DWORD disposition;
        DWORD error; // last error after the call, success or not
        bool opens;
    } cases[] = {
        {At("old.txt"), CREATE_NEW, ERROR_FILE_EXISTS, false},
        {At("new1.txt"), CREATE_NEW, ERROR_SUCCESS, true},
        {At("old.txt"), OPEN_ALWAYS, ERROR_ALREADY_EXISTS, true},
        {At("new2.txt"), OPEN_ALWAYS, ERROR_SUCCESS, true},
        {At("old.txt"), OPEN_EXISTING, kMarker, true},
        {At("none.txt"), OPEN_EXISTING, ERROR_FILE_NOT_FOUND, false},
        {At("none\\x.txt"), CREATE_ALWAYS, ERROR_PATH_NOT_FOUND, false},
        {At("dir"), OPEN_EXISTING, ERROR_ACCESS_DENIED, false},
        {At("dir"), CREATE_ALWAYS, ERROR_ACCESS_DENIED, false},
        {At("old.txt"), CREATE_ALWAYS, ERROR_ALREADY_EXISTS, true},
        {At("new3.txt"), CREATE_ALWAYS, ERROR_SUCCESS, true},
    };
    for (const auto& test : cases) {
        SetLastError(kMarker);
        HANDLE file = Open(test.path, GENERIC_WRITE, test.disposition);
        const DWORD error = GetLastError();
        EXPECT_EQ(test.opens, file != INVALID_HANDLE_VALUE) << test.path << " " << test.disposition;
        if (test.error != kMarker) {
            EXPECT_EQ(test.error, error) << test.path << " disposition " << test.disposition;
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    EXPECT_EQ("", hmtest::ReadWholeFile(At("old.txt"))) << "CREATE_ALWAYS empties the old file";
}

TEST_F(FilesTest, WrittenBytesReadBackAndAccessIsChecked) {
    const std::string path = At("data.bin");
    HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    const char bytes[] = "line one\r\nline two\r\n\0\xff";
    DWORD count = kMarker;
    EXPECT_TRUE(WriteFile(file, bytes, sizeof(bytes), &count, nullptr));
    EXPECT_EQ(sizeof(bytes), count);
    char buffer[64];
    count = kMarker;
    SetLastError(kMarker);
    EXPECT_FALSE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    EXPECT_EQ(0u, count);
    CloseHandle(file);

    file = Open(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    count = kMarker;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    ASSERT_EQ(sizeof(bytes), count);
    EXPECT_EQ(0, memcmp(bytes, buffer, sizeof(bytes)));
    CloseHandle(file);

    // Append access alone writes at the end, whatever was written before.
    file = Open(path, FILE_APPEND_DATA, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(WriteFile(file, "+", 1, &count, nullptr));
    EXPECT_TRUE(WriteFile(file, "-", 1, &count, nullptr));
    CloseHandle(file);
    file = Open(path, GENERIC_READ, OPEN_EXISTING);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr));
    ASSERT_EQ(sizeof(bytes) + 2, count);
    EXPECT_EQ(0, memcmp(bytes, buffer, sizeof(bytes)));
    EXPECT_EQ("+-", std::string(buffer + sizeof(bytes), 2));
    count = kMarker;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof(buffer), &count, nullptr)); // end of file
    EXPECT_EQ(0u, count);
    SetLastError(kMarker);
    EXPECT_FALSE(WriteFile(file, bytes, 1, &count, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    CloseHandle(file);

    SetLastError(kMarker);
    EXPECT_FALSE(WriteFile(INVALID_HANDLE_VALUE, bytes, 1, &count, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(FilesTest, FolderCallsKeepTheCaseGivenAndFindNamesIgnoringIt) {
    MakeFile("a.txt");
    MakeFile("b.txt");
    MakeFolder("dir");
    HANDLE file = Open(At("MiXed.TXT"), GENERIC_WRITE, CREATE_NEW);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    EXPECT_TRUE(DeleteFileA(At("B.TXT").c_str()));
    EXPECT_TRUE(CreateDirectoryA(At("Sub\\").c_str(), nullptr));
    DWORD error = 0;
    EXPECT_EQ("MiXed.TXT Sub\\ a.txt dir\\", Search(At("*"), &error));
}

TEST_F(FilesTest, FolderAndDeleteErrorCodes) {
    MakeFolder("dir");
    MakeFile("a.txt");
    const struct {
        bool remove; // DeleteFileA, else CreateDirectoryA
        std::string path;
        DWORD error;
    } cases[] = {
        {true, At("dir"), ERROR_ACCESS_DENIED},      {true, At("none"), ERROR_FILE_NOT_FOUND},
        {true, At("none\\x"), ERROR_PATH_NOT_FOUND}, {false, At("DIR"), ERROR_ALREADY_EXISTS},
        {false, At("a.txt"), ERROR_ALREADY_EXISTS},  {false, At("none\\x"), ERROR_PATH_NOT_FOUND},
        {false, "C:\\", ERROR_ALREADY_EXISTS},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE((test.remove ? "DeleteFileA " : "CreateDirectoryA ") + test.path);
        SetLastError(kMarker);
        EXPECT_FALSE(test.remove ? DeleteFileA(test.path.c_str())
                                 : CreateDirectoryA(test.path.c_str(), nullptr));
        EXPECT_EQ(test.error, GetLastError());
    }
}

TEST_F(FilesTest, DriveTypesAndLogicalDrives) {
    EXPECT_NE(0u, GetLogicalDrives() & (1u << ('C' - 'A')));
    const struct {
        const char* root;
        UINT type;
    } cases[] = {
        {"C:\\", DRIVE_FIXED},    {"C:", DRIVE_FIXED},         {"c:\\", DRIVE_FIXED},
        {"C", DRIVE_NO_ROOT_DIR}, {"1:\\", DRIVE_NO_ROOT_DIR},
    };
    for (const auto& test : cases)
        EXPECT_EQ(test.type, GetDriveTypeA(test.root)) << "[" << test.root << "]";
    const char letter = UnmappedDriveLetter();
    ASSERT_NE(0, letter);
    EXPECT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR),
              GetDriveTypeA((std::string(1, letter) + ":\\").c_str()));
}

} // namespace
