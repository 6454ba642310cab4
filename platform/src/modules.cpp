// Modules: "X.dll" is one of our shared objects, loaded with dlopen.
//
// Where a module is found follows Windows' rules:
//   - a full path ("C:\...\X.dll") loads exactly that file and is never
//     searched for elsewhere;
//   - a bare name is searched for in the program's folder, the system folder,
//     the Windows folder, the current folder (the system drive's root) and the
//     folders of the machine's PATH, in that order, and last by dlopen's own
//     search (LD_LIBRARY_PATH, the cache, the system folders);
//   - a name containing '/' is a host path and is opened as it is.
// A file of the simulated machine is a shared object whatever its name. The
// program and the plug-in live in the plug-in's folder (GetModuleFileNameA
// says so), and that folder also holds our shared objects in the module
// folders: those of the host variable HIVEMENDER_LIBRARY_PATH
// (colon-separated) and the folder of the main executable, as libX.so or
// X.so (each as written, then in lower case). The names of the Windows
// system libraries the engine looks functions up in (kernel32, advapi32, ...)
// name the stand-in itself, which exports them; ntdll is not among them, so
// nothing mistakes the stand-in for Wine.
//
// GetModuleHandleExA counts a reference the way LoadLibraryA does (one more
// dlopen of the object, given back by FreeLibrary), so a module whose code a
// thread still runs stays mapped however often its loader frees it. The
// stand-in and the main program are never unloaded and count nothing.
//
// An HMODULE is the address the object is mapped at (dladdr's dli_fbase), as
// on Windows, so LoadLibraryA, GetModuleHandleA and VirtualQuery agree.
// GetModuleFileNameA answers a Windows path inside the simulated machine:
// the file a module was loaded from, or for one of the module folders the
// plug-in's folder and the DLL name derived from the shared object's name
// (libhivemender.so -> hivemender.dll).
#include "codepage.h"
#include "files_lookup.h"

#include <win32sim/machine.h>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace {

constexpr char kSearchPathVariable[] = "HIVEMENDER_LIBRARY_PATH";

const char* const kSystemLibraries[] = {"kernel32", "kernelbase", "advapi32", "shell32",
                                        "oleaut32", "msvcrt",     "user32"};

struct LoadedModule {
    void* dl = nullptr; // one dlopen reference per LoadLibraryA
    int references = 0;
    std::string windowsPath; // the machine's file it came from; empty for a module folder's
};

std::mutex g_mutex;
std::map<HMODULE, LoadedModule> g_loaded; // modules LoadLibraryA opened

HMODULE BaseOfAddress(const void* address) {
    Dl_info info;
    if (!address || !dladdr(address, &info) || !info.dli_fbase)
        return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

HMODULE BaseOfDlHandle(void* dl) {
    link_map* map = nullptr;
    if (dlinfo(dl, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    return BaseOfAddress(map->l_ld);
}

HMODULE StandInModule() {
    return BaseOfAddress(reinterpret_cast<const void*>(&StandInModule));
}

HMODULE MainProgramModule() {
    void* self = dlopen(nullptr, RTLD_NOW);
    HMODULE base = self ? BaseOfDlHandle(self) : nullptr;
    if (self)
        dlclose(self);
    return base;
}

// The stand-in itself and the program: mapped for the whole process.
bool IsPermanent(HMODULE module) {
    return module == StandInModule() || module == MainProgramModule();
}

std::string HostFileOf(HMODULE module) {
    Dl_info info;
    if (!module || !dladdr(module, &info) || info.dli_fbase != module || !info.dli_fname)
        return {};
    return info.dli_fname;
}

std::string ExecutableFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0)
        return {};
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.rfind('/'));
}

bool EndsWithNoCase(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() &&
           win32sim::detail::EqualAnsiNoCase(
               std::string_view(text).substr(text.size() - tail.size()), tail);
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(win32sim::detail::LowerAnsi(static_cast<unsigned char>(c)));
    return text;
}

// "C:\dir\Name.dll" -> "Name"; "Name" -> "Name".
std::string StemOfWindowsName(const std::string& name) {
    std::string file = name.substr(
        name.find_last_of("\\:") == std::string::npos ? 0 : name.find_last_of("\\:") + 1);
    if (EndsWithNoCase(file, ".dll"))
        file.resize(file.size() - 4);
    return file;
}

bool IsSystemLibrary(const std::string& stem) {
    for (const char* system : kSystemLibraries) {
        if (win32sim::detail::EqualAnsiNoCase(stem, system))
            return true;
    }
    return false;
}

std::vector<std::string> CandidateFiles(const std::string& stem) {
    std::vector<std::string> files = {"lib" + stem + ".so", stem + ".so"};
    const std::string lower = Lower(stem);
    if (lower != stem) {
        files.push_back("lib" + lower + ".so");
        files.push_back(lower + ".so");
    }
    return files;
}

std::vector<std::string> SearchFolders() {
    std::vector<std::string> folders;
    if (const char* list = std::getenv(kSearchPathVariable)) {
        std::string rest = list;
        size_t start = 0;
        while (start <= rest.size()) {
            const size_t colon = rest.find(':', start);
            const std::string folder =
                rest.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
            if (!folder.empty())
                folders.push_back(folder);
            if (colon == std::string::npos)
                break;
            start = colon + 1;
        }
    }
    const std::string exeFolder = ExecutableFolder();
    if (!exeFolder.empty())
        folders.push_back(exeFolder);
    return folders;
}

// The Windows folder the plug-in lives in, without a trailing backslash.
std::string PluginFolder() {
    const std::string& plugin = win32sim::CurrentConfig().pluginPath;
    const size_t slash = plugin.rfind('\\');
    return slash == std::string::npos ? std::string() : plugin.substr(0, slash);
}

// A module found: its dlopen handle and, for a file of the machine, its path.
struct Found {
    void* dl = nullptr;
    std::string windowsPath;
};

bool IsFullWindowsPath(const std::string& name) {
    const bool drive = name.size() >= 3 && std::isalpha(static_cast<unsigned char>(name[0])) &&
                       name[1] == ':' && name[2] == '\\';
    return drive || name.rfind("\\\\", 0) == 0;
}

std::string FolderOf(const std::string& windowsPath) {
    const size_t slash = windowsPath.rfind('\\');
    return slash == std::string::npos ? std::string() : windowsPath.substr(0, slash);
}

// Windows implies ".dll" for a name without an extension.
std::string WithDllExtension(const std::string& name) {
    const std::string file = name.substr(name.find_last_of("\\:") + 1);
    return file.find('.') == std::string::npos ? name + ".dll" : name;
}

void* OpenFromModuleFolders(const std::string& stem, int flags) {
    const auto files = CandidateFiles(stem);
    for (const auto& folder : SearchFolders()) {
        for (const auto& file : files) {
            const std::string path = folder + "/" + file;
            if (access(path.c_str(), F_OK) != 0)
                continue;
            if (void* dl = dlopen(path.c_str(), flags))
                return dl;
        }
    }
    return nullptr;
}

// Exactly the file at `path` (relative: in the current folder), never a search.
Found OpenFile(const std::string& path, int flags) {
    const std::string host = win32sim::detail::HostFileOfMachineFile(path);
    if (!host.empty()) {
        if (void* dl = dlopen(host.c_str(), flags))
            return {dl, path};
    }
    if (win32sim::detail::EqualAnsiNoCase(FolderOf(path), PluginFolder()))
        return {OpenFromModuleFolders(StemOfWindowsName(path), flags), {}};
    return {};
}

std::string FolderFrom(UINT(WINAPI* read)(LPSTR, UINT)) {
    char folder[MAX_PATH] = {};
    const UINT length = read(folder, sizeof(folder));
    return length > 0 && length < sizeof(folder) ? std::string(folder, length) : std::string();
}

// Windows' standard search order (safe search mode on); "" is the current
// folder.
std::vector<std::string> StandardSearchFolders() {
    std::vector<std::string> folders = {PluginFolder(), FolderFrom(GetSystemDirectoryA),
                                        FolderFrom(GetWindowsDirectoryA), ""};
    char path[32767];
    const DWORD length = GetEnvironmentVariableA("PATH", path, sizeof(path));
    std::string rest(path, length < sizeof(path) ? length : 0);
    for (size_t start = 0; start < rest.size();) {
        const size_t end = std::min(rest.find(';', start), rest.size());
        if (end > start)
            folders.push_back(rest.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

Found OpenBySearch(const std::string& name, int flags) {
    for (const auto& folder : StandardSearchFolders()) {
        Found found = OpenFile(folder.empty() ? name : folder + "\\" + name, flags);
        if (found.dl)
            return found;
    }
    for (const auto& file : CandidateFiles(StemOfWindowsName(name))) {
        if (void* dl = dlopen(file.c_str(), flags))
            return {dl, {}};
    }
    return {};
}

// dlopen of a Windows module name by Windows' rules; a null handle if none.
Found OpenByName(const std::string& given, int flags) {
    if (given.find('/') != std::string::npos)
        return {dlopen(given.c_str(), flags), {}};
    const std::string name = WithDllExtension(given);
    if (StemOfWindowsName(name).empty())
        return {};
    if (IsFullWindowsPath(name))
        return OpenFile(name, flags);
    return OpenBySearch(name.substr(name.find_last_of("\\:") + 1), flags);
}

std::string WindowsNameOfHostFile(const std::string& hostFile) {
    std::string file = hostFile.substr(hostFile.rfind('/') + 1);
    if (file.rfind("lib", 0) == 0)
        file.erase(0, 3);
    const size_t so = file.find(".so");
    if (so != std::string::npos)
        file.resize(so);
    file += ".dll";
    // Keep the plug-in's own spelling of its name.
    const std::string& plugin = win32sim::CurrentConfig().pluginPath;
    const std::string pluginName = plugin.substr(plugin.rfind('\\') + 1);
    return win32sim::detail::EqualAnsiNoCase(file, pluginName) ? pluginName : file;
}

// Where the machine says a module lies: the file it was loaded from, or
// for a module folder's shared object the plug-in's folder.
std::string WindowsPathOf(HMODULE module) {
    {
        std::lock_guard lock(g_mutex);
        auto found = g_loaded.find(module);
        if (found != g_loaded.end() && !found->second.windowsPath.empty())
            return found->second.windowsPath;
    }
    const std::string hostFile = HostFileOf(module);
    return hostFile.empty() ? std::string()
                            : PluginFolder() + "\\" + WindowsNameOfHostFile(hostFile);
}

// As Windows does, a module already loaded answers to its file name from
// wherever it was loaded, and to its full path.
HMODULE LoadedModuleNamed(const std::string& name) {
    std::vector<HMODULE> modules;
    {
        std::lock_guard lock(g_mutex);
        for (const auto& [module, loaded] : g_loaded)
            modules.push_back(module);
    }
    const bool fullPath = IsFullWindowsPath(name);
    for (HMODULE module : modules) {
        const std::string path = WindowsPathOf(module);
        const std::string compared = fullPath ? path : path.substr(path.rfind('\\') + 1);
        if (!path.empty() && win32sim::detail::EqualAnsiNoCase(compared, name))
            return module;
    }
    return nullptr;
}

// Records one more reference on `module`, whose dlopen handle `dl` counts it.
void CountReference(HMODULE module, void* dl, const std::string& windowsPath = {}) {
    std::lock_guard lock(g_mutex);
    LoadedModule& loaded = g_loaded[module];
    if (loaded.dl) {
        dlclose(dl); // dlopen counted it already; one handle per module is enough
    } else {
        loaded.dl = dl;
        loaded.windowsPath = windowsPath;
    }
    ++loaded.references;
}

// Takes a reference on a module that is already mapped; false when it is not.
bool AddReference(HMODULE module, bool pin) {
    if (IsPermanent(module))
        return true;
    const std::string file = HostFileOf(module);
    const int flags = RTLD_NOW | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0);
    void* dl = file.empty() ? nullptr : dlopen(file.c_str(), flags);
    if (!dl)
        return false;
    if (pin) {
        dlclose(dl); // RTLD_NODELETE keeps it for the life of the process
        return true;
    }
    CountReference(module, dl);
    return true;
}

} // namespace

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    return LoadLibraryExA(lpLibFileName, nullptr, 0);
}

// The flags change only where a library's own imports are looked for, which
// our shared objects resolve through the host's loader: they are accepted.
HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile, DWORD /*dwFlags*/) {
    if (!lpLibFileName || !*lpLibFileName || hFile) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const std::string name = lpLibFileName;
    if (name.find('/') == std::string::npos && IsSystemLibrary(StemOfWindowsName(name)))
        return StandInModule();
    const Found found = OpenByName(name, RTLD_NOW | RTLD_LOCAL);
    HMODULE module = found.dl ? BaseOfDlHandle(found.dl) : nullptr;
    if (!module) {
        if (found.dl)
            dlclose(found.dl);
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    CountReference(module, found.dl, found.windowsPath);
    return module;
}

BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    if (hLibModule && IsPermanent(hLibModule))
        return TRUE;
    void* doomed = nullptr;
    {
        std::lock_guard lock(g_mutex);
        auto found = g_loaded.find(hLibModule);
        if (found == g_loaded.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
        if (--found->second.references == 0) {
            doomed = found->second.dl;
            g_loaded.erase(found);
        }
    }
    if (doomed)
        dlclose(doomed);
    return TRUE;
}

FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    // Lookups by ordinal (a "name" below 0x10000) have no meaning here.
    if (!lpProcName || reinterpret_cast<uintptr_t>(lpProcName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    if (!hModule)
        hModule = MainProgramModule();
    const std::string file = HostFileOf(hModule);
    void* dl = file.empty() ? nullptr : dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!dl && hModule == MainProgramModule())
        dl = dlopen(nullptr, RTLD_NOW);
    if (!dl) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(dl, lpProcName);
    // Only the module's own exports count, not what it pulls in from others.
    if (symbol && BaseOfAddress(symbol) != hModule)
        symbol = nullptr;
    dlclose(dl);
    if (!symbol) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (!lpModuleName)
        return MainProgramModule();
    const std::string name = lpModuleName;
    if (name.find('/') == std::string::npos && IsSystemLibrary(StemOfWindowsName(name)))
        return StandInModule();
    if (HMODULE module = LoadedModuleNamed(WithDllExtension(name)))
        return module;
    const Found found = OpenByName(name, RTLD_NOW | RTLD_NOLOAD);
    HMODULE module = found.dl ? BaseOfDlHandle(found.dl) : nullptr;
    if (found.dl)
        dlclose(found.dl); // RTLD_NOLOAD still counted a reference
    if (!module)
        SetLastError(ERROR_MOD_NOT_FOUND);
    return module;
}

BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    constexpr DWORD kKnownFlags = GET_MODULE_HANDLE_EX_FLAG_PIN |
                                  GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                                  GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    const bool pin = dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN;
    const bool unchanged = dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    if (phModule)
        *phModule = nullptr;
    if (!phModule || (dwFlags & ~kKnownFlags) || (pin && unchanged)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HMODULE module = (dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS)
                         ? BaseOfAddress(lpModuleName)
                         : GetModuleHandleA(lpModuleName);
    if (!module || (!unchanged && !AddReference(module, pin))) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    *phModule = module;
    return TRUE;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (!hModule || hModule == MainProgramModule()) {
        path = PluginFolder() + "\\host.exe";
    } else {
        path = WindowsPathOf(hModule);
        if (path.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // Too small: the path is cut to fit with its terminator, and the full
    // size is returned with ERROR_INSUFFICIENT_BUFFER (Vista and later).
    if (path.size() >= nSize) {
        std::memcpy(lpFilename, path.data(), nSize - 1);
        lpFilename[nSize - 1] = 0;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return nSize;
    }
    std::memcpy(lpFilename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
}

SIZE_T WINAPI VirtualQuery(LPCVOID lpAddress, PMEMORY_BASIC_INFORMATION lpBuffer, SIZE_T dwLength) {
    constexpr DWORD kMemCommit = 0x1000;
    constexpr DWORD kMemImage = 0x1000000;
    constexpr DWORD kMemPrivate = 0x20000;
    constexpr DWORD kPageExecuteRead = 0x20;
    constexpr DWORD kPageReadWrite = 0x04;
    constexpr DWORD kErrorBadLength = 24;
    if (!lpBuffer || dwLength < sizeof(MEMORY_BASIC_INFORMATION)) {
        SetLastError(kErrorBadLength);
        return 0;
    }
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto pageStart = reinterpret_cast<uintptr_t>(lpAddress) & ~(page - 1);
    std::memset(lpBuffer, 0, sizeof(*lpBuffer));
    lpBuffer->BaseAddress = reinterpret_cast<PVOID>(pageStart);
    lpBuffer->RegionSize = page;
    lpBuffer->State = kMemCommit;
    if (HMODULE module = BaseOfAddress(lpAddress)) {
        lpBuffer->AllocationBase = module;
        lpBuffer->AllocationProtect = kPageExecuteRead;
        lpBuffer->Protect = kPageExecuteRead;
        lpBuffer->Type = kMemImage;
    } else {
        lpBuffer->AllocationBase = reinterpret_cast<PVOID>(pageStart);
        lpBuffer->AllocationProtect = kPageReadWrite;
        lpBuffer->Protect = kPageReadWrite;
        lpBuffer->Type = kMemPrivate;
    }
    return sizeof(MEMORY_BASIC_INFORMATION);
}

} // extern "C"
