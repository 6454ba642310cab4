// Windows: the plug-in is a DLL and the machine is the one we run on.
#include "host/platform.h"

#include "base/text.h"

#include "host/session.h"

#include <windows.h>
#include <sddl.h>
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace host {
namespace {

class Win32Plugin final : public PluginLibrary {
public:
    Win32Plugin(HMODULE module, GetPluginEngineFn entry) : m_module(module), m_entry(entry) {}
    ~Win32Plugin() override { FreeLibrary(m_module); }
    GetPluginEngineFn Entry() const override { return m_entry; }

private:
    HMODULE m_module;
    GetPluginEngineFn m_entry;
};

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// The live registry is one per Windows: two hosts fixing it at once would
// interleave their undo files. The mutex is the lock; a small shared block
// beside it says who holds it. Global names reach other sessions (Remote
// Desktop, services); without the privilege to make them, the session's own.
constexpr char kMutexName[] = "Hivemender.Machine";
constexpr char kHolderName[] = "Hivemender.Machine.Holder";
constexpr DWORD kHolderSize = 256;

HANDLE CreateNamed(const char* name, HANDLE (*create)(const std::string&)) {
    HANDLE handle = create(std::string("Global\\") + name);
    return handle ? handle : create(std::string("Local\\") + name);
}

HANDLE CreateMachineMutex(const std::string& name) {
    return CreateMutexA(nullptr, FALSE, name.c_str());
}

HANDLE CreateHolderBlock(const std::string& name) {
    return CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kHolderSize,
                              name.c_str());
}

class NamedMutexLock final : public MachineLock {
public:
    NamedMutexLock(HANDLE mutex, HANDLE holder, char* view)
        : m_mutex(mutex), m_holder(holder), m_view(view) {}
    ~NamedMutexLock() override {
        if (m_view) {
            m_view[0] = '\0';
            UnmapViewOfFile(m_view);
        }
        if (m_holder)
            CloseHandle(m_holder);
        ReleaseMutex(m_mutex);
        CloseHandle(m_mutex);
    }

private:
    HANDLE m_mutex;
    HANDLE m_holder;
    char* m_view;
};

char* MapHolder(HANDLE holder) {
    return holder ? static_cast<char*>(MapViewOfFile(holder, FILE_MAP_WRITE, 0, 0, kHolderSize))
                  : nullptr;
}

} // namespace

std::unique_ptr<MachineLock> LockMachine(const MachineOptions&, const std::string& command,
                                         bool wait, std::string* error) {
    HANDLE mutex = CreateNamed(kMutexName, CreateMachineMutex);
    if (!mutex) {
        *error = "cannot lock the machine: error " + std::to_string(GetLastError());
        return nullptr;
    }
    HANDLE holder = CreateNamed(kHolderName, CreateHolderBlock);
    char* view = MapHolder(holder);
    // An abandoned mutex is one whose holder died: the lock is ours all the same.
    const DWORD waited = WaitForSingleObject(mutex, wait ? INFINITE : 0);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
        if (view)
            std::snprintf(view, kHolderSize, "%s (pid %lu)", command.c_str(),
                          static_cast<unsigned long>(GetCurrentProcessId()));
        return std::make_unique<NamedMutexLock>(mutex, holder, view);
    }
    const std::string busyWith = view && view[0] ? std::string(view, strnlen(view, kHolderSize)) : "";
    if (view)
        UnmapViewOfFile(view);
    if (holder)
        CloseHandle(holder);
    CloseHandle(mutex);
    *error = "this Windows machine is busy: " +
             (busyWith.empty() ? std::string("another hivemender is changing it")
                               : "another hivemender is running " + busyWith) +
             "; try again when it ends, or use --wait";
    return nullptr;
}

std::unique_ptr<PluginLibrary> LoadPlugin(const std::string& path, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        *error = "cannot load the plug-in " + path + ": error " + std::to_string(GetLastError());
        return nullptr;
    }
    auto entry = reinterpret_cast<GetPluginEngineFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "GetPluginEngine")));
    if (!entry) {
        FreeLibrary(module);
        *error = "the plug-in " + path + " does not export GetPluginEngine";
        return nullptr;
    }
    return std::make_unique<Win32Plugin>(module, entry);
}

std::string DefaultPluginPath() {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    return FolderOf(self) + "\\hivemender.dll";
}

bool IsTerminal(int fd) {
    return _isatty(fd) != 0;
}

size_t TerminalColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!_isatty(1) || !GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return _isatty(1) ? 80 : 0;
    return static_cast<size_t>(info.srWindow.Right - info.srWindow.Left + 1);
}

bool TerminalTakesColour() {
    if (!_isatty(1))
        return false;
    // Consoles older than Windows 10 show the sequences as text: no colour there.
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(console, &mode) &&
           SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

void UseBinaryOutput() {
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

bool ReplaceFile(const std::string& source, const std::string& target, std::string* error) {
    if (MoveFileExA(source.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *error = "cannot replace " + target + ": error " + std::to_string(GetLastError());
    return false;
}

bool PrepareMachine(const MachineOptions& options, std::string* description, std::string* error) {
    if (!options.folder.empty()) {
        *error = "--machine names a simulated machine; on Windows the real machine is scanned";
        return false;
    }
    *description = "this Windows machine";
    return true;
}

bool MachineAcceptsChanges(bool, const std::vector<std::string>&, std::string*) {
    return true;
}

bool SaveMachine(std::string*) {
    return true;
}

bool RegistryIsLive() {
    return true;
}

void DiscardScratchMachine() {}

bool ReloadMachine(std::string*) {
    return true;
}

bool OpenInBrowser(const std::string& url) {
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    return result > 32;
}

bool MachineIsScratchCopy() {
    return false;
}

bool ExportMachine(const std::string&, const std::string&, bool, bool, std::string*,
                  std::string* error) {
    *error = "export-machine is not available on Windows: it reads an offline installation "
             "on Linux";
    return false;
}

std::string PluginWindowsFolder(const std::string& pluginPath) {
    char full[MAX_PATH] = {};
    if (!GetFullPathNameA(pluginPath.c_str(), MAX_PATH, full, nullptr))
        return FolderOf(pluginPath);
    return FolderOf(full);
}

std::string LocalPathFor(const std::string& windowsPath) {
    return windowsPath;
}

namespace {

std::string AnsiFromWide(const WCHAR* wide) {
    return base::FromWide(CP_ACP, base::WideView(wide));
}

} // namespace

std::string Utf8FromArgument(const std::string& argument) {
    // The C runtime hands over the arguments in the ANSI code page, with '?'
    // for what it lacks; the wide command line has them as typed.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::string utf8;
    for (int i = 1; wide != nullptr && i < count && utf8.empty(); ++i) {
        if (AnsiFromWide(wide[i]) == argument)
            utf8 = Utf8FromWide(wide[i]);
    }
    LocalFree(wide);
    if (!utf8.empty() || argument.empty())
        return utf8;
    return Utf8FromWide(base::ToWide(CP_ACP, argument).c_str());
}

std::string CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return {};
    std::string sid;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::string buffer(size, '\0');
    char* text = nullptr;
    if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
        ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

} // namespace host
