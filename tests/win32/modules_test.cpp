#include "support/conformance.h"
#include "support/text.h"

#ifndef _WIN32
#include "support/host_files.h"
#include <win32sim/machine.h>
#include <cstdlib>
#endif

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

// Modules: the engine loads its optional sibling libraries by name, looks up
// functions the running Windows may lack, and finds its own file name.
namespace {

using hmtest::EndsWithNoCase;

constexpr char kTestModule[] = "hmtestmod.dll";

std::string ModuleFileName(HMODULE module) {
    char path[MAX_PATH + 1] = {0};
    const DWORD n = GetModuleFileNameA(module, path, sizeof(path));
    return std::string(path, n < sizeof(path) ? n : 0);
}

HMODULE AllocationBaseOf(const void* address) {
    MEMORY_BASIC_INFORMATION info;
    std::memset(&info, 0, sizeof(info));
    EXPECT_EQ(sizeof(info), VirtualQuery(address, &info, sizeof(info)));
    return static_cast<HMODULE>(info.AllocationBase);
}

int FunctionInTheProgram() {
    return 1;
}

// A thread that leaves while giving back its reference on the test module,
// the way the engine's workers leave the plug-in.
std::atomic<bool> g_returnedFromExit{false};
DWORD WINAPI LeaveWithModule(LPVOID module) {
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 5);
    g_returnedFromExit = true;
    return 0;
}

#ifndef _WIN32
std::string PluginFolder() {
    const std::string& plugin = win32sim::CurrentConfig().pluginPath;
    return plugin.substr(0, plugin.rfind('\\'));
}

std::filesystem::path TestModuleHostFile() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "libhmtestmod.so";
}
#endif

// The test module's bytes, to plant copies of it where a test wants them.
std::string TestModuleBytes() {
#ifdef _WIN32
    HMODULE module = LoadLibraryA(kTestModule);
    const std::string file = ModuleFileName(module);
    FreeLibrary(module);
#else
    const std::string file = TestModuleHostFile().string();
#endif
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ModuleSearch : public hmtest::ConformanceTest {};

} // namespace

// A full path loads exactly that file: the folders a bare name is searched
// in (the program's, PATH) are never looked at.
TEST_F(ModuleSearch, AFullPathLoadsThatFileOrNothing) {
    const std::string bytes = TestModuleBytes();
    ASSERT_FALSE(bytes.empty());
    const std::string beside = ScratchDir() + "\\" + kTestModule;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
        << "no such file there, though the program's folder holds one";
    EXPECT_EQ(unsigned(ERROR_MOD_NOT_FOUND), GetLastError());

    const std::string planted = MakeFile("hmplanted.dll", bytes);
    HMODULE module = LoadLibraryExA(planted.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    EXPECT_TRUE(hmtest::EqualNoCase(planted, ModuleFileName(module))) << ModuleFileName(module);
    EXPECT_EQ(module, GetModuleHandleA("HMPLANTED.DLL")) << "a loaded module answers to its name";
    EXPECT_EQ(module, GetModuleHandleA(planted.c_str()));
    EXPECT_NE(nullptr, GetProcAddress(module, "HmTestModAnswer"));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(nullptr, GetModuleHandleA("hmplanted.dll"));
}

// A bare name is searched for, PATH included: what a full path avoids.
TEST_F(ModuleSearch, ABareNameIsSearchedForOnPath) {
    const std::string bytes = TestModuleBytes();
    ASSERT_FALSE(bytes.empty());
    const std::string folder = MakeFolder("onpath");
    MakeFile("onpath\\hmonpath.dll", bytes);
    EXPECT_EQ(nullptr, LoadLibraryA("hmonpath.dll"));
    char path[32767];
    const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof(path));
    const std::string saved(path, length < sizeof(path) ? length : 0);
    SetEnvironmentVariableA("PATH", (folder + ";" + saved).c_str());
    HMODULE module = LoadLibraryA("hmonpath.dll");
    SetEnvironmentVariableA("PATH", saved.c_str());
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    EXPECT_TRUE(hmtest::EqualNoCase(folder + "\\hmonpath.dll", ModuleFileName(module)))
        << ModuleFileName(module);
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, LoadFindAndFree) {
    ASSERT_EQ(nullptr, GetModuleHandleA(kTestModule)) << "not loaded before the test";
    SetLastError(0xdeadbeef);
    HMODULE module = LoadLibraryA(kTestModule);
    ASSERT_NE(nullptr, module) << "error " << GetLastError();
    EXPECT_EQ(module, GetModuleHandleA(kTestModule));
    EXPECT_EQ(module, GetModuleHandleA("HMTESTMOD.DLL")) << "names ignore case";
    EXPECT_EQ(module, GetModuleHandleA("hmtestmod")) << ".dll is implied";

    auto answer = reinterpret_cast<int (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "HmTestModAnswer")));
    ASSERT_NE(nullptr, answer);
    EXPECT_EQ(42, answer());
    EXPECT_EQ(module, AllocationBaseOf(reinterpret_cast<const void*>(answer)));
    FARPROC counter = GetProcAddress(module, "HmTestModCounter");
    ASSERT_NE(nullptr, counter);
    EXPECT_EQ(7, *reinterpret_cast<const int*>(counter));

    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetProcAddress(module, "NoSuchFunction"));
    EXPECT_EQ(unsigned(ERROR_PROC_NOT_FOUND), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetProcAddress(module, "hmtestmodanswer")) << "export names keep case";
    EXPECT_EQ(unsigned(ERROR_PROC_NOT_FOUND), GetLastError());

    // A second load counts a reference: one free keeps it loaded.
    EXPECT_EQ(module, LoadLibraryA(kTestModule));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(module, GetModuleHandleA(kTestModule));
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(nullptr, GetModuleHandleA(kTestModule)) << "unloaded with the last reference";
}

TEST(Modules, HandleFromAnAddressCountsAReferenceUnlessToldNot) {
    HMODULE module = LoadLibraryA(kTestModule);
    ASSERT_NE(nullptr, module);
    const auto answer = reinterpret_cast<LPCSTR>(GetProcAddress(module, "HmTestModCounter"));
    ASSERT_NE(nullptr, answer);
    HMODULE found = reinterpret_cast<HMODULE>(0xdeadbeef);
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                       GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                   answer, &found));
    EXPECT_EQ(module, found);
    found = nullptr;
    EXPECT_TRUE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, answer, &found));
    EXPECT_EQ(module, found);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(module, GetModuleHandleA(kTestModule)) << "the address's reference keeps it";
    EXPECT_TRUE(FreeLibrary(found));
    EXPECT_EQ(nullptr, GetModuleHandleA(kTestModule)) << "unloaded with the last reference";

    int local = 0;
    found = reinterpret_cast<HMODULE>(0xdeadbeef);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                    reinterpret_cast<LPCSTR>(&local), &found))
        << "a stack address lies in no module";
    EXPECT_EQ(unsigned(ERROR_MOD_NOT_FOUND), GetLastError());
    EXPECT_EQ(nullptr, found);
}

TEST(Modules, FreeLibraryAndExitThreadEndsTheThreadAndUnloads) {
    HMODULE module = LoadLibraryA(kTestModule);
    ASSERT_NE(nullptr, module);
    g_returnedFromExit = false;
    HANDLE thread = CreateThread(nullptr, 0, LeaveWithModule, module, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(5u, code);
    EXPECT_FALSE(g_returnedFromExit.load()) << "it never returns to its caller";
    EXPECT_EQ(nullptr, GetModuleHandleA(kTestModule)) << "the thread's reference was the last";
    EXPECT_TRUE(CloseHandle(thread));
}

TEST(Modules, MissingLibraryAndFunction) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LoadLibraryA("hm-no-such-library.dll"));
    EXPECT_EQ(unsigned(ERROR_MOD_NOT_FOUND), GetLastError());
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, GetModuleHandleA("hm-no-such-library.dll"));
    EXPECT_EQ(unsigned(ERROR_MOD_NOT_FOUND), GetLastError());
}

TEST(Modules, SystemLibrariesExportTheRegistryFunctions) {
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    ASSERT_NE(nullptr, advapi);
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegDeleteKeyExA"));
    EXPECT_NE(nullptr, GetProcAddress(advapi, "RegOpenKeyExA"));
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    ASSERT_NE(nullptr, kernel);
    EXPECT_NE(nullptr, GetProcAddress(kernel, "GetFileAttributesA"));
    EXPECT_TRUE(FreeLibrary(kernel));
    if (hmtest::RunningOnStandIn()) {
        EXPECT_FALSE(hmtest::RunningOnWine()) << "the stand-in must not look like Wine";
    }
}

TEST(Modules, TheProgramItself) {
    HMODULE program = GetModuleHandleA(nullptr);
    ASSERT_NE(nullptr, program);
    EXPECT_EQ(program, AllocationBaseOf(reinterpret_cast<const void*>(&FunctionInTheProgram)));
    const std::string path = ModuleFileName(nullptr);
    EXPECT_TRUE(EndsWithNoCase(path, ".exe")) << path;
    EXPECT_EQ(path, ModuleFileName(program));
#ifndef _WIN32
    EXPECT_EQ(PluginFolder() + "\\host.exe", path);
#endif
}

TEST(Modules, FileNameOfALoadedLibrary) {
    HMODULE module = LoadLibraryA(kTestModule);
    ASSERT_NE(nullptr, module);
    const std::string path = ModuleFileName(module);
    EXPECT_TRUE(EndsWithNoCase(path, "\\hmtestmod.dll")) << path;
    EXPECT_EQ(':', path.size() > 1 ? path[1] : 0) << path;
#ifndef _WIN32
    EXPECT_EQ(PluginFolder() + "\\hmtestmod.dll", path);
#endif
    const DWORD length = static_cast<DWORD>(path.size());
    struct Case {
        DWORD size;
        DWORD result;
        DWORD error;
        size_t kept; // characters before the terminator
    } cases[] = {
        {length + 1, length, 0xdeadbeef, length},                // exactly fitting
        {length, length, ERROR_INSUFFICIENT_BUFFER, length - 1}, // one too small
        {4, 4, ERROR_INSUFFICIENT_BUFFER, 3},
    };
    for (const auto& c : cases) {
        char buffer[MAX_PATH + 2];
        std::memset(buffer, 'x', sizeof(buffer));
        SetLastError(0xdeadbeef);
        EXPECT_EQ(c.result, GetModuleFileNameA(module, buffer, c.size)) << "size " << c.size;
        if (c.error != 0xdeadbeef) {
            EXPECT_EQ(c.error, GetLastError()) << "size " << c.size;
        }
        EXPECT_EQ(0, std::memcmp(buffer, path.data(), c.kept)) << "size " << c.size;
        // Since Vista a cut path keeps its terminator; Wine 8.0 fills all
        // nSize characters as Windows XP did.
        EXPECT_WINDOWS(buffer[c.kept] == 0, "a cut module path ends in a terminator");
        EXPECT_EQ('x', buffer[c.size]) << "size " << c.size;
    }
    EXPECT_TRUE(FreeLibrary(module));
}

#ifndef _WIN32
// Where the stand-in looks: HIVEMENDER_LIBRARY_PATH first, "X.so" as well as
// "libX.so", and host paths as they are.
TEST(Modules, StandInSearchPathAndNaming) {
    const auto folder = hmtest::FreshHostFolder("hm-modules");
    std::filesystem::copy_file(TestModuleHostFile(), folder / "hmaltmod.so",
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::copy_file(TestModuleHostFile(), folder / "libhivemender.so",
                               std::filesystem::copy_options::overwrite_existing);

    EXPECT_EQ(nullptr, LoadLibraryA("hmaltmod.dll")) << "not on the search path yet";
    ::setenv("HIVEMENDER_LIBRARY_PATH", ("/nonexistent:" + folder.string()).c_str(), 1);
    HMODULE alt = LoadLibraryA("HmAltMod.dll");
    ::unsetenv("HIVEMENDER_LIBRARY_PATH");
    ASSERT_NE(nullptr, alt);
    EXPECT_EQ(PluginFolder() + "\\hmaltmod.dll", ModuleFileName(alt));
    EXPECT_NE(nullptr, GetProcAddress(alt, "HmTestModAnswer"));

    // The plug-in's own library answers exactly the configured plug-in path.
    HMODULE plugin = LoadLibraryA((folder / "libhivemender.so").c_str());
    ASSERT_NE(nullptr, plugin);
    EXPECT_NE(alt, plugin);
    EXPECT_EQ(win32sim::CurrentConfig().pluginPath, ModuleFileName(plugin));

    EXPECT_TRUE(FreeLibrary(plugin));
    EXPECT_TRUE(FreeLibrary(alt));
    std::filesystem::remove_all(folder);
}
#endif
