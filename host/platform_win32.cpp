// Windows: the plug-in is a DLL and the machine is the one we run on.
#include "host/platform.h"

#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

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

} // namespace

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

bool MachineAcceptsChanges(bool, std::string*) {
    return true;
}

bool SaveMachine(std::string*) {
    return true;
}

void DiscardScratchMachine() {}

bool ExportMachine(const std::string&, const std::string&, std::string*, std::string* error) {
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

} // namespace host
