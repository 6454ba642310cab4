// A whole machine, measured in one run: how long the machine folder takes
// to load, how long a bare walk of every key and value takes through the
// registry API the engine reads with, and how long each section's scan and
// the whole scan take next to it; how often the scan asks the file system
// about the same path; and the process's peak memory.
//
// The whole scan runs a second time without the per-scan memory of file
// answers; the program fails when the two find different problems, so a
// memory that changes a finding can never pass for a speed-up.
//
//   machine_bench FOLDER [--repeat N] [--results FILE] [--load-only] [--no-reference]
//                 [--paths FILE] [--saves DIR] [--delete-values KEY]
//
// --delete-values deletes every value of KEY (a path below
// HKEY_LOCAL_MACHINE) one by one at the end, in the order they were
// created, as a fix of all of them does.
//
// The registry is saved, after the peak memory is read, in each form a
// machine.reg takes (8-bit, UTF-16LE, REGEDIT4; the time of the first is
// the save's); --saves keeps the three files in DIR, with the scan's
// report (report.json), for comparison.
//
// The scan's floor is the bare walk plus one file-system question for each
// distinct path the scan asked about (letter case ignored), timed here in
// the same run; --paths also writes those paths, one a line, for the Wine
// benchmark to ask in turn.
//
// --load-only stops after the load, for profiling the loader alone;
// --no-reference leaves out the scan without the file memory, which takes
// a hundred times longer than the scan itself (for the largest machines).
//
// Sections run one at a time through the scan driver with a one-bit mask, so
// a section whose scanner does not exist yet simply takes no time.
#include "walk_and_scan.h"
#include "engine/hivemender.h"
#include "report/problem_report.h"
#include "fileref/scan_file_cache.h"
#include "machine/machine_folder.h"
#include "registry/reg_key.h"
#include "scan/exclusion_list.h"
#include "scan/scan_driver.h"

#include <win32sim/machine.h>

#include <windows.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

using bench::kSectionNames;
using bench::kSections;
using bench::WalkCount;
using bench::WalkFrom;

double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Processor time, not wall time: the benchmark shares its machine, and a
// busy neighbour stretches the wall clock of every step alike. Everything
// measured runs on this one thread.
double Seconds(const std::function<void()>& work) {
    const double start = ProcessCpuSeconds();
    work();
    return ProcessCpuSeconds() - start;
}

double BestSeconds(int repeat, const std::function<void()>& work) {
    return bench::BestOf(repeat, Seconds, work);
}

// Kilobytes of /proc/self/status's line `field` (VmRSS, VmHWM).
long MemoryKb(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0)
            return std::atol(line.c_str() + prefix.size());
    }
    return 0;
}

struct ScanFigures {
    double seconds = 0;
    size_t problems = 0;
    unsigned long long engineFileCalls = 0; // as the engine counts its own probes
    unsigned long long memoryAnswers = 0;
    win32sim::FileQueryTally tally; // as the file system saw them
};

// The driver's own steps without the per-scan memory of file answers: the
// reference the memory must never disagree with.
void RunScanWithoutFileMemory(CHivemender& engine) {
    ClearExclusionList(engine);
    engine.m_bAdministrator = IsAdministrator();
    engine.m_problems.clear();
    for (const SectionScan& entry : engine.m_sectionScanners) {
        const bool enabled = (engine.m_dwSectionMask & (1u << entry.section)) != 0;
        if (entry.scanner && enabled && (!entry.needsAdministrator || engine.m_bAdministrator))
            entry.scanner(engine);
    }
    OrderProblems(engine);
}

ScanFigures Scan(CHivemender& engine, DWORD mask, bool fileMemory) {
    engine.m_dwSectionMask = mask;
    ScanFigures figures;
    FileProbeCounters& counters = ThisThreadFileProbeCounters();
    counters = FileProbeCounters{};
    win32sim::StartFileQueryTally();
    figures.seconds = Seconds([&] {
        if (fileMemory)
            RunScan(engine, engine.m_sectionScanners);
        else
            RunScanWithoutFileMemory(engine);
    });
    figures.tally = win32sim::StopFileQueryTally();
    figures.problems = engine.m_problems.size();
    figures.engineFileCalls = counters.fileSystemCalls;
    figures.memoryAnswers = counters.cacheHits;
    return figures;
}

class Results {
public:
    explicit Results(const std::string& path) : m_path(path) {}
    void Add(const std::string& name, double value) {
        m_lines += name + "\t" + std::to_string(value) + "\n";
    }
    ~Results() {
        if (!m_path.empty())
            std::ofstream(m_path, std::ios::binary) << m_lines;
    }

private:
    std::string m_path;
    std::string m_lines;
};

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0;
}

void PrintTarget(const char* what, double value, const char* target) {
    std::printf("  %-44s %10.2f   target %s\n", what, value, target);
}

struct Options {
    std::string folder;
    int repeat = 1;
    std::string results;
    bool loadOnly = false;
    bool reference = true;
    std::string paths;
    std::string saves;
    std::string deleteValues;
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--repeat" && i + 1 < argc)
            options.repeat = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--load-only")
            options.loadOnly = true;
        else if (arg == "--no-reference")
            options.reference = false;
        else if (arg == "--delete-values" && i + 1 < argc)
            options.deleteValues = argv[++i];
        else if (arg == "--saves" && i + 1 < argc)
            options.saves = argv[++i];
        else if (arg == "--paths" && i + 1 < argc)
            options.paths = argv[++i];
        else if (arg == "--results" && i + 1 < argc)
            options.results = argv[++i];
        else if (options.folder.empty() && arg.rfind("--", 0) != 0)
            options.folder = arg;
        else
            return false;
    }
    return !options.folder.empty();
}

// Saves the registry in each form into `folder` (a file's first bytes
// choose the form of its save); the seconds of the 8-bit save, or -1.
double SaveEachForm(const std::filesystem::path& folder) {
    struct Form {
        const char* file;
        const char* head;
    };
    static const Form kForms[] = {
        {"machine.reg", ""}, {"machine-utf16.reg", "\xFF\xFE"}, {"machine-regedit4.reg", "REGEDIT4"}};
    std::filesystem::create_directories(folder);
    double ansiSeconds = -1;
    for (const Form& form : kForms) {
        const std::string path = (folder / form.file).string();
        std::ofstream(path, std::ios::binary) << form.head;
        std::string error;
        bool saved = false;
        const double seconds = Seconds([&] { saved = win32sim::SaveRegistry(path, &error); });
        if (!saved) {
            std::fprintf(stderr, "machine_bench: save failed: %s\n", error.c_str());
            return -1;
        }
        if (form.head[0] == '\0')
            ansiSeconds = seconds;
    }
    return ansiSeconds;
}

// Deletes every value of the key; the seconds it took, or -1 when a value
// could not be deleted. The names are read first, outside the timing.
double DeleteEveryValue(const std::string& keyPath, size_t* count) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ | KEY_SET_VALUE, &key))
        return -1;
    std::vector<std::string> names;
    char name[16384];
    for (DWORD i = 0;; ++i) {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr))
            break;
        names.emplace_back(name, length);
    }
    bool deleted = true;
    const double seconds = Seconds([&] {
        for (const std::string& each : names)
            deleted &= RegDeleteValueA(key, each.c_str()) == ERROR_SUCCESS;
    });
    DWORD left = 1;
    RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &left, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(key);
    *count = names.size();
    return deleted && left == 0 ? seconds : -1;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: machine_bench FOLDER [--repeat N] [--results FILE] [--load-only] "
                     "[--no-reference] [--paths FILE] [--saves DIR] [--delete-values KEY]\n");
        return 2;
    }
    const auto wallStart = std::chrono::steady_clock::now();
    Results results(options.results);
    const double regBytes = static_cast<double>(
        std::filesystem::file_size(std::filesystem::path(options.folder) / "machine.reg"));
    std::string error;
    bool loaded = false;
    const double load = Seconds([&] { loaded = win32sim::LoadMachine(options.folder, &error); });
    if (!loaded) {
        std::fprintf(stderr, "machine_bench: %s\n", error.c_str());
        return 2;
    }
    const long rssLoaded = MemoryKb("VmRSS");
    if (options.loadOnly) {
        std::printf("load %.3f s, RSS after load %.0f MB, peak RSS %.0f MB, machine.reg %.1f MB\n",
                    load, rssLoaded / 1024.0, MemoryKb("VmHWM") / 1024.0, regBytes / 1e6);
        return 0;
    }

    WalkCount all, classes;
    const double walk = BestSeconds(options.repeat, [&] { all = bench::WalkSoftware(); });
    const double classesWalk =
        BestSeconds(options.repeat, [&] { classes = WalkFrom(HKEY_CLASSES_ROOT, "", kRead64); });

    std::printf("machine %s: machine.reg %.1f MB, %llu keys, %llu values "
                "(classes root %llu keys, %llu values)\n",
                options.folder.c_str(), regBytes / 1e6, all.keys, all.values, classes.keys,
                classes.values);
    std::printf("load %.3f s (%.0f keys/s), RSS after load %.0f MB\n", load, all.keys / load,
                rssLoaded / 1024.0);
    std::printf("bare walk %.3f s (HKEY_USERS and HKEY_LOCAL_MACHINE\\SOFTWARE), "
                "classes root %.3f s\n\n",
                walk, classesWalk);
    results.Add("keys", static_cast<double>(all.keys));
    results.Add("values", static_cast<double>(all.values));
    results.Add("reg_bytes", regBytes);
    results.Add("load_s", load);
    results.Add("walk_s", walk);
    results.Add("classes_walk_s", classesWalk);

    CHivemender engine;
    std::printf("%-18s %9s %9s %11s %11s %11s\n", "section", "seconds", "problems", "fs calls",
                "distinct", "remembered");
    std::vector<ScanFigures> sections(kSections);
    for (int section = 0; section < kSections; ++section) {
        ScanFigures& s = sections[section];
        s = Scan(engine, 1u << section, true);
        for (int i = 1; i < options.repeat; ++i)
            s.seconds = std::min(s.seconds, Scan(engine, 1u << section, true).seconds);
        std::printf("%2d %-15s %9.3f %9zu %11llu %11llu %11llu\n", section, kSectionNames[section],
                    s.seconds, s.problems, s.tally.calls, s.tally.distinctPaths, s.memoryAnswers);
        results.Add("section" + std::to_string(section) + "_s", s.seconds);
    }

    // The whole scan is timed without the tally, whose bookkeeping of every
    // path asked costs as much as a fifth of a scan of many missing files.
    ScanFigures whole = Scan(engine, kDefaultSectionMask, true);
    whole.seconds = BestSeconds(options.repeat, [&] { RunScan(engine, engine.m_sectionScanners); });
    const std::vector<std::string>& asked = whole.tally.paths;
    const double probe =
        BestSeconds(options.repeat, [&] { bench::AskEachPathOnce(asked); });
    if (!options.paths.empty()) {
        std::ofstream list(options.paths, std::ios::binary);
        for (const std::string& path : asked)
            list << path << "\n";
    }
    std::string report;
    const double reportSeconds =
        Seconds([&] { report = ScanReportText(engine.m_problems, engine.m_userNames); });
    const ProblemList remembered = engine.m_problems;
    ScanFigures plain;
    bool same = true;
    if (options.reference) {
        plain = Scan(engine, kDefaultSectionMask, false);
        same = engine.m_problems.size() == remembered.size() &&
               ScanReportText(engine.m_problems, engine.m_userNames) == report;
    }
    const long peak = MemoryKb("VmHWM");

    std::printf("%-18s %9.3f %9zu %11llu %11llu %11llu\n", "all (0x77F)", whole.seconds,
                whole.problems, whole.tally.calls, whole.tally.distinctPaths, whole.memoryAnswers);
    std::printf("%-18s %9.3f %9zu %11llu %11llu\n", "all, no memory", plain.seconds, plain.problems,
                plain.tally.calls, plain.tally.distinctPaths);
    std::printf("report text %.3f s, %zu bytes\n", reportSeconds, report.size());
    std::printf("each distinct path asked once %.3f s (%zu paths); floor = bare walk + that "
                "= %.3f s\n\n",
                probe, asked.size(), walk + probe);

    const double scanRatio = Ratio(whole.seconds, walk);
    const double classesRatio = Ratio(sections[SectionClasses].seconds, classesWalk);
    const double callsPerPath = Ratio(static_cast<double>(whole.tally.calls),
                                      static_cast<double>(whole.tally.distinctPaths));
    const double peakPerReg = Ratio(peak * 1024.0, regBytes);
    std::printf("figures against their targets:\n");
    const double floorRatio = Ratio(whole.seconds, walk + probe);
    PrintTarget("scan / bare walk", scanRatio, "<= 1.3");
    PrintTarget("scan / floor (bare walk + one question a path)", floorRatio, "<= 2");
    PrintTarget("classes scan / classes root walk", classesRatio, "<= 1.5");
    PrintTarget("file-system calls per distinct path", callsPerPath, "1.0");
    PrintTarget("load seconds", load, "<= 2 at 700,000 keys");
    PrintTarget("peak RSS / machine.reg", peakPerReg, "<= 2");
    std::printf("  peak RSS %.0f MB\n", peak / 1024.0);
    std::printf("findings with and without the file memory: %s\n", !options.reference
                                                                       ? "not compared"
                                                                   : same ? "identical"
                                                                          : "DIFFER");
    const bool keepSaves = !options.saves.empty();
    const std::filesystem::path saveFolder =
        keepSaves ? std::filesystem::path(options.saves)
                  : std::filesystem::temp_directory_path() /
                        ("machine_bench-" + std::to_string(getpid()));
    const double save = SaveEachForm(saveFolder);
    if (keepSaves)
        std::ofstream(saveFolder / "report.json", std::ios::binary) << report;
    if (!keepSaves)
        std::filesystem::remove_all(saveFolder);
    std::printf("save of machine.reg (8-bit) %.3f s (%.2f us a key)\n", save,
                save * 1e6 / static_cast<double>(all.keys));
    double deletion = 0;
    if (!options.deleteValues.empty()) {
        size_t count = 0;
        deletion = DeleteEveryValue(options.deleteValues, &count);
        std::printf("deleting all %zu values of one key %.3f s (%.3f us a value)\n", count,
                    deletion, count ? deletion * 1e6 / static_cast<double>(count) : 0.0);
        results.Add("delete_values_s", deletion);
    }
    std::printf(
        "(times are processor seconds; the whole run took %.0f s of wall time)\n",
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count());

    results.Add("scan_s", whole.seconds);
    results.Add("scan_nomemory_s", plain.seconds);
    results.Add("report_s", reportSeconds);
    results.Add("problems", static_cast<double>(whole.problems));
    results.Add("fs_calls", static_cast<double>(whole.tally.calls));
    results.Add("fs_distinct", static_cast<double>(whole.tally.distinctPaths));
    results.Add("fs_calls_nomemory", static_cast<double>(plain.tally.calls));
    results.Add("scan_ratio", scanRatio);
    results.Add("probe_s", probe);
    results.Add("floor_ratio", floorRatio);
    results.Add("classes_ratio", classesRatio);
    results.Add("rss_load_mb", rssLoaded / 1024.0);
    results.Add("peak_rss_mb", peak / 1024.0);
    results.Add("peak_per_reg", peakPerReg);
    results.Add("save_s", save);
    results.Add("same_findings", same ? 1 : 0);
    return same && save >= 0 && deletion >= 0 ? 0 : 1;
}
