// The Windows build measured on the registry it runs over (Wine's, into which
// bench/run-wine-bench imported a generated machine): a bare walk of every
// key and value against each section's scan and the whole scan, in one run.
//
//   wine_bench [--repeat N] [--paths FILE]
//
// --paths names the distinct paths the same machine's scan asked about
// (machine_bench --paths writes them): asking each once, added to the bare
// walk, is the scan's floor.
//
// Times are wall seconds: Wine answers registry calls in its server process,
// whose work a process's own processor time leaves out. File-system calls
// are the engine's own count (Wine has no tally of the questions it is asked).
#include "walk_and_scan.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

double WallSeconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct ScanFigures {
    double seconds = 0;
    size_t problems = 0;
    unsigned long long fileCalls = 0;
};

ScanFigures Scan(CHivemender& engine, DWORD mask, int repeat) {
    engine.m_dwSectionMask = mask;
    FileProbeCounters& counters = ThisThreadFileProbeCounters();
    counters = FileProbeCounters{};
    ScanFigures figures;
    figures.seconds =
        bench::BestOf(repeat, WallSeconds, [&] { RunScan(engine, engine.m_sectionScanners); });
    figures.problems = engine.m_problems.size();
    figures.fileCalls = counters.fileSystemCalls / static_cast<unsigned long long>(repeat);
    return figures;
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 1;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--paths") == 0 && i + 1 < argc) {
            std::ifstream list(argv[++i], std::ios::binary);
            for (std::string line; std::getline(list, line);)
                paths.push_back(line);
        } else {
            std::fprintf(stderr, "usage: wine_bench [--repeat N] [--paths FILE]\n");
            return 2;
        }
    }
    bench::WalkCount all, classes;
    const double walk = bench::BestOf(repeat, WallSeconds, [&] { all = bench::WalkSoftware(); });
    const double classesWalk = bench::BestOf(
        repeat, WallSeconds, [&] { classes = bench::WalkFrom(HKEY_CLASSES_ROOT, "", kRead64); });
    std::printf("registry: %llu keys, %llu values (classes root %llu keys, %llu values)\n",
                all.keys, all.values, classes.keys, classes.values);
    std::printf("bare walk %.3f s (HKEY_USERS and HKEY_LOCAL_MACHINE\\SOFTWARE), "
                "classes root %.3f s\n\n",
                walk, classesWalk);

    CHivemender engine;
    std::printf("%-18s %9s %9s %11s\n", "section", "seconds", "problems", "file calls");
    double classesScan = 0;
    for (int section = 0; section < bench::kSections; ++section) {
        const ScanFigures s = Scan(engine, 1u << section, repeat);
        if (section == SectionClasses)
            classesScan = s.seconds;
        std::printf("%2d %-15s %9.3f %9zu %11llu\n", section, bench::kSectionNames[section],
                    s.seconds, s.problems, s.fileCalls);
    }
    const ScanFigures whole = Scan(engine, kDefaultSectionMask, repeat);
    std::printf("%-18s %9.3f %9zu %11llu\n\n", "all (0x77F)", whole.seconds, whole.problems,
                whole.fileCalls);
    const double probe =
        bench::BestOf(repeat, WallSeconds, [&] { bench::AskEachPathOnce(paths); });
    std::printf("each distinct path asked once %.3f s (%zu paths); floor = bare walk + that "
                "= %.3f s\n\n",
                probe, paths.size(), walk + probe);
    std::printf("figures against their targets (wall seconds under Wine):\n");
    std::printf("  %-44s %10.2f   target <= 2\n", "scan / floor",
                walk + probe > 0 ? whole.seconds / (walk + probe) : 0);
    std::printf("  %-44s %10.2f   target <= 1.3\n", "scan / bare walk",
                walk > 0 ? whole.seconds / walk : 0);
    std::printf("  %-44s %10.2f   target <= 1.5\n", "classes scan / classes root walk",
                classesWalk > 0 ? classesScan / classesWalk : 0);
    return 0;
}
