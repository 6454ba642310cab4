// How much the per-scan memory of file-system answers saves the software
// walk, and proof that it changes no finding.
//
// The generated machine has many vendor keys whose values name files in a
// few program folders: present programs with arguments, missing libraries,
// lists, folders with blanks in their names, "Program Files (x86)" paths
// that only exist under "Program Files". The machine walk runs over it
// without and with the memory; the probes issued, the time and the findings
// are compared.
//
//   fileref_cache_bench [keys] [rounds]
#include "engine/hivemender.h"
#include "base/common_library.h"
#include "fileref/file_probe.h"
#include "fileref/scan_file_cache.h"
#include "scanners/software_keys.h"

#include <win32sim/machine.h>

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kFolders = 4;
constexpr int kFilesPerFolder = 12;

std::string Folder(int f) {
    return "C:\\Program Files\\Bench Vendor " + std::to_string(f) + "\\App Files";
}

void MakeFile(const std::string& path) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
}

void SetString(HKEY key, const char* name, const std::string& text) {
    RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                   static_cast<DWORD>(text.size() + 1));
}

void GenerateMachine(int keys) {
    win32sim::MachineConfig config;
    const auto scratch =
        std::filesystem::temp_directory_path() / ("hm-bench-" + std::to_string(::getpid()));
    std::filesystem::remove_all(scratch);
    win32sim::ResetMachine(config, scratch.string());
    win32sim::PrivilegedScope privileged;
    for (int f = 0; f < kFolders; ++f) {
        Orvel::CreateDirectoryA(Folder(f));
        for (int i = 0; i < kFilesPerFolder; ++i)
            MakeFile(Folder(f) + "\\tool" + std::to_string(i) + ".exe");
    }
    for (int k = 0; k < keys; ++k) {
        const std::string f = Folder(k % kFolders);
        const std::string n = std::to_string(k % (2 * kFilesPerFolder));
        const std::string subkey =
            "SOFTWARE\\BenchVendor" + std::to_string(k % 7) + "\\Product\\Key" + std::to_string(k);
        HKEY key = nullptr;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            continue;
        SetString(key, "Command", f + "\\tool" + n + ".exe -run");
        // Every key names missing files of its own: only the folders repeat.
        SetString(key, "Library", f + "\\helper" + std::to_string(k) + ".dll");
        SetString(key, "List", f + "\\tool0.exe;" + f + "\\lost" + std::to_string(k) + ".dll");
        std::string x86 = f;
        x86.replace(0, 16, "C:\\Program Files (x86)");
        SetString(key, "Wow", x86 + "\\tool" + n + ".exe");
        SetString(key, "Label", "Bench product " + n);
        RegCloseKey(key);
    }
}

struct Run {
    double milliseconds;
    uint64_t fileSystemCalls;
    uint64_t cacheHits;
    ProblemList problems;
};

Run Walk(bool cached) {
    ForgetFileSearchTables();
    CHivemender engine;
    FileProbeCounters& counters = ThisThreadFileProbeCounters();
    counters = FileProbeCounters{};
    const auto start = std::chrono::steady_clock::now();
    if (cached) {
        CScanFileCache scan;
        ScanMachineSoftware(engine);
    } else {
        ScanMachineSoftware(engine);
    }
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double, std::milli>(end - start).count(),
            counters.fileSystemCalls, counters.cacheHits, engine.m_problems};
}

bool SameFindings(const ProblemList& a, const ProblemList& b) {
    return std::equal(
        a.begin(), a.end(), b.begin(), b.end(), [](const ProblemRecord& x, const ProblemRecord& y) {
            return x.id == y.id && x.section == y.section && x.keyPath == y.keyPath &&
                   x.valueName == y.valueName && x.newValue == y.newValue && x.kind == y.kind;
        });
}

} // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 3000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    GenerateMachine(keys);
    Run best[2];
    for (int round = 0; round < rounds; ++round) {
        for (int cached = 0; cached < 2; ++cached) {
            Run run = Walk(cached != 0);
            if (round == 0 || run.milliseconds < best[cached].milliseconds)
                best[cached] = std::move(run);
        }
    }
    const Run& plain = best[0];
    const Run& kept = best[1];
    std::printf("keys %d, values %d, findings %zu\n", keys, keys * 5, plain.problems.size());
    std::printf("uncached: %8.1f ms, %9llu file-system calls\n", plain.milliseconds,
                static_cast<unsigned long long>(plain.fileSystemCalls));
    std::printf("cached:   %8.1f ms, %9llu file-system calls, %llu answers recalled\n",
                kept.milliseconds, static_cast<unsigned long long>(kept.fileSystemCalls),
                static_cast<unsigned long long>(kept.cacheHits));
    std::printf("calls ratio %.1fx, time ratio %.1fx\n",
                static_cast<double>(plain.fileSystemCalls) /
                    static_cast<double>(std::max<uint64_t>(kept.fileSystemCalls, 1)),
                plain.milliseconds / std::max(kept.milliseconds, 0.001));
    const bool same = SameFindings(plain.problems, kept.problems);
    std::printf("findings identical: %s\n", same ? "yes" : "NO");
    return same ? 0 : 1;
}
