// The engine's companion libraries are loaded only from where they are
// shipped: a copy planted in the current folder or in a folder on PATH, where
// a standard user may write, is never loaded; one beside the plug-in is.
//
// This program's folder holds no companion library; the doubles wait in
// planted/ below it, which no search looks in, for the tests to copy.
#include "base/common_library.h"
#include "engine/hivemender.h"
#include "fix/status_library.h"
#include "support/conformance.h"
#include "support/text.h"
#include "tests/fix/pellwatch_double.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#ifndef _WIN32
#include <filesystem>
#endif

namespace {

// The bytes of a double in planted/ ("Nimbtrace" or "Pellwatch").
std::string DoubleBytes(const std::string& stem) {
#ifdef _WIN32
    char exe[MAX_PATH] = {};
    std::string file(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
    file = file.substr(0, file.rfind('\\')) + "\\planted\\" + stem + ".dll";
#else
    const std::string file =
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "planted" / (stem + ".so"))
            .string();
#endif
    std::ifstream in(file, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The folder the engine counts as its own (it is linked into this program).
std::string PluginFolder() {
    return Orvel::GetModulePathNameA(EngineModule());
}

class LibrarySearchTest : public hmtest::ConformanceTest {
protected:
    void TearDown() override {
        if (m_pathChanged)
            SetEnvironmentVariableA("PATH", m_savedPath.c_str());
#ifdef _WIN32
        if (!m_savedCurrentFolder.empty())
            SetCurrentDirectoryA(m_savedCurrentFolder.c_str());
#endif
        for (const std::string& file : m_planted)
            DeleteFileA(file.c_str());
        hmtest::ConformanceTest::TearDown();
    }

    // Where a relative name is looked for: a fresh folder on Windows; the
    // stand-in's current folder is the system drive's root.
    std::string CurrentFolder() {
#ifdef _WIN32
        char saved[MAX_PATH] = {};
        m_savedCurrentFolder.assign(saved, GetCurrentDirectoryA(MAX_PATH, saved));
        const std::string folder = MakeFolder("current");
        SetCurrentDirectoryA(folder.c_str());
        return folder;
#else
        return "C:";
#endif
    }

    // A fresh folder put in front of PATH.
    std::string FolderOnPath() {
        char path[32767];
        const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof(path));
        m_savedPath.assign(path, length < sizeof(path) ? length : 0);
        const std::string folder = MakeFolder("onpath");
        m_pathChanged = SetEnvironmentVariableA("PATH", (folder + ";" + m_savedPath).c_str());
        return folder;
    }

    // A copy of the double `stem` in `folder`, removed again after the test.
    std::string Plant(const std::string& stem, const std::string& folder) {
        const std::string bytes = DoubleBytes(stem);
        EXPECT_FALSE(bytes.empty()) << stem << " double missing in planted/";
        const std::string path = folder + "\\" + stem + ".dll";
        Orvel::CreateDirectoryA(folder);
        EXPECT_TRUE(hmtest::WriteWholeFile(path, bytes)) << path;
        m_planted.push_back(path);
        return path;
    }

private:
    std::string m_savedPath;
    bool m_pathChanged = false;
    std::string m_savedCurrentFolder;
    std::vector<std::string> m_planted;
};

enum class Place { CurrentFolder, FolderOnPath, PluginFolder };

class StatusLibrarySearchTest : public LibrarySearchTest,
                                public ::testing::WithParamInterface<Place> {
protected:
    std::string FolderFor(Place place) {
        switch (place) {
        case Place::CurrentFolder:
            return CurrentFolder();
        case Place::FolderOnPath:
            return FolderOnPath();
        default:
            return PluginFolder();
        }
    }
};

TEST_P(StatusLibrarySearchTest, OnlyTheCopyBesideThePluginIsCalled) {
    // Held by its full path, so that its record outlives the engine's unload.
    HMODULE held = LoadLibraryA(Plant("Pellwatch", FolderFor(GetParam())).c_str());
    ASSERT_NE(nullptr, held) << "error " << GetLastError();
    auto count = reinterpret_cast<PellwatchCountFn>(
        reinterpret_cast<void*>(GetProcAddress(held, "PellwatchDoubleCount")));
    ASSERT_NE(nullptr, count);
    ReportFixedCount(3);
    EXPECT_EQ(GetParam() == Place::PluginFolder ? 1 : 0, count());
    FreeLibrary(held);
}

std::string PlaceName(const ::testing::TestParamInfo<Place>& info) {
    const char* const names[] = {"CurrentFolder", "FolderOnPath", "PluginFolder"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Places, StatusLibrarySearchTest,
                         ::testing::Values(Place::CurrentFolder, Place::FolderOnPath,
                                           Place::PluginFolder),
                         PlaceName);

TEST_F(LibrarySearchTest, TheLogLibraryIsNeverTakenFromTheCurrentFolderOrPath) {
    Plant("Nimbtrace", CurrentFolder());
    Plant("Nimbtrace", FolderOnPath());
    auto* engine = new CHivemender;
    // An invalid mode is logged: the first log call loads the library.
    EXPECT_EQ(E_INVALIDARG, engine->Start(7, hmtest::Wide("").data()));
    EXPECT_EQ(nullptr, GetModuleHandleA("Nimbtrace.dll"));
    engine->Destroy();
}

} // namespace
