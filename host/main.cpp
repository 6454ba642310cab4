// hivemender: a command-line host for Hivemender plug-ins.
//
//   hivemender [options] scan [--explain]
//   hivemender [options] fix (--select 0-5,9 | --all) [--force]
//   hivemender [options] undo (FILE | --last | --list) [--force]
//   hivemender [options] exclude (KEYPATH | --list | --remove KEYPATH)
//   hivemender [options] ui [--port N] [--no-browser]
//   hivemender export-machine DIR OUT
//
// Exit codes: 0 success, 1 engine or usage error, 2 bad arguments.
#include "host/arguments.h"
#include "host/chosen_problems.h"
#include "host/commands.h"
#include "host/explain.h"
#include "host/platform.h"
#include "host/report_table.h"
#include "host/session.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <set>
#include <algorithm>
#include <map>

namespace host {
namespace {

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

void ShowElapsed(double seconds) {
    std::fprintf(stderr, "\rworking... %.1f s", seconds);
    std::fflush(stderr);
}

// COLUMNS counts on a pipe too, so a table can be asked for at a width.
size_t OutputColumns() {
    const char* columns = std::getenv("COLUMNS");
    if (columns && std::atoi(columns) > 0)
        return static_cast<size_t>(std::atoi(columns));
    return TerminalColumns();
}

bool WantsColour() {
    const char* noColour = std::getenv("NO_COLOR");
    return !(noColour && *noColour) && TerminalTakesColour();
}

Output ChosenOutput(const Options& options) {
    if (options.output != Output::Default)
        return options.output;
    return options.explain || IsTerminal(1) ? Output::Table : Output::Raw;
}

// For --explain: what each value problem's value holds and names, read
// while the machine is still the one the scan saw.
std::map<std::string, std::vector<std::string>> Explanations(const Report& report) {
    std::map<std::string, std::vector<std::string>> notes;
    for (const Members& entry : report.entries) {
        const std::string valueName = Member(entry, "value name");
        if (!valueName.empty())
            notes[Member(entry, "id")] = ExplainValue(Member(entry, "key path"), valueName);
    }
    return notes;
}

bool PrintReport(const std::string& text, const Options& options, std::string* error) {
    const Output output = ChosenOutput(options);
    if (output == Output::Raw) {
        UseBinaryOutput();
        std::cout << text << std::flush;
        return true;
    }
    Report report;
    if (!ParseReport(text, &report, error))
        return false;
    if (output == Output::Json) {
        std::cout << ToStrictJson(report) << std::flush;
        return true;
    }
    TableStyle style{OutputColumns(), WantsColour(), {}};
    if (options.explain)
        style.notes = Explanations(report);
    std::cout << ToTable(report, style) << std::flush;
    return true;
}

int BadSelection(const std::string& message) {
    std::cerr << "hivemender: " << message << "\n";
    return kExitBadArguments;
}

// The ids a fix names: every problem of the fresh scan for --all, else the
// problems chosen from the scan the person saw (`seen`), each found again
// in the fresh scan.
int SelectedIds(const Options& options, const std::string& seenReport,
                const std::string& freshReport, std::vector<int>* ids) {
    Report seen, fresh;
    std::string error;
    if (!ParseReport(freshReport, &fresh, &error))
        return Fail(error);
    if (options.selectAll) {
        for (const auto& entry : fresh.entries)
            ids->push_back(std::stoi(Member(entry, "id")));
        return kExitOk;
    }
    if (!ParseReport(seenReport, &seen, &error))
        return Fail("the remembered scan cannot be read (" + error + "): run scan again");
    const int count = static_cast<int>(seen.entries.size());
    std::set<int> chosen;
    for (const auto& [first, last] : options.selection) {
        if (last >= count)
            return BadSelection(
                "no problem " + std::to_string(std::max(first, count)) + ": the scan found " +
                (count == 0
                     ? std::string("none")
                     : std::to_string(count) + " (ids 0 to " + std::to_string(count - 1) + ")"));
        for (int id = first; id <= last; ++id)
            chosen.insert(id);
    }
    std::string missing;
    if (!MatchChosen(seen, std::vector<int>(chosen.begin(), chosen.end()), fresh, ids, &missing))
        return Fail(missing + " is no longer found: the machine changed since the scan. "
                              "Nothing was fixed; run scan again and choose from its ids");
    return kExitOk;
}

int RunRequest(Session& session, int mode, const std::string& request, std::string* report) {
    HRESULT started = S_OK;
    const bool showProgress = IsTerminal(2);
    switch (session.Run(mode, request, g_interrupted, showProgress ? ShowElapsed : nullptr, report,
                        &started)) {
    case Session::Outcome::Report:
        if (showProgress)
            std::fprintf(stderr, "\r%*s\r", 24, "");
        return kExitOk;
    case Session::Outcome::Interrupted:
        std::fprintf(stderr, "\n");
        return Fail("interrupted: the engine was stopped and no report was made");
    case Session::Outcome::StartFailed:
        break;
    }
    return Fail(StartRefusal(started));
}

int Fix(const Options& options, Session& session, const std::string& pluginPath,
        const std::string& seenReport, const std::string& scanReport) {
    std::vector<int> ids;
    if (int code = SelectedIds(options, seenReport, scanReport, &ids))
        return code;
    if (ids.empty()) {
        // Nothing to repair: no undo file, and the machine stays as it is.
        std::cerr << "nothing to fix: the scan found no problems\n";
        return kExitOk;
    }
    std::string fixReport, error;
    if (!MachineAcceptsChanges(options.force, &error))
        return Fail(error);
    const std::string undoFolder = UndoFolder(pluginPath);
    const std::vector<std::string> before = UndoFiles(undoFolder);
    if (int code = RunRequest(session, 1, FixRequest(ids), &fixReport))
        return code;
    Report parsed;
    if (ParseReport(fixReport, &parsed, &error)) {
        const std::string failure = Member(parsed.members, "error");
        if (!failure.empty()) {
            PrintReport(fixReport, options, &error);
            return Fail("the fix failed: " + failure);
        }
    }
    if (!SaveMachine(&error))
        return Fail(error);
    if (!PrintReport(fixReport, options, &error))
        return Fail(error);
    for (const auto& name : UndoFiles(undoFolder)) {
        if (std::find(before.begin(), before.end(), name) == before.end())
            std::cerr << "undo file: " << LocalPathFor(undoFolder + "\\" + name) << "\n";
    }
    return kExitOk;
}

int Run(const Options& options) {
    std::string description, error;
    if (options.command == Command::ExportMachine) {
        if (!ExportMachine(options.exportVolume, options.exportFolder, &error))
            return Fail(error);
        std::cerr << "machine folder written: " << options.exportFolder << "\n";
        return kExitOk;
    }
    if (!PrepareMachine(MachineOptions{options.machineFolder, options.force}, &description, &error))
        return Fail(error);
    std::cerr << "machine: " << description << "\n";
    const std::string pluginPath =
        options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    if (options.command == Command::Undo) {
        if (!options.undoList && !MachineAcceptsChanges(options.force, &error))
            return Fail(error);
        return RunUndo(options, pluginPath);
    }
    if (options.command == Command::Exclude)
        return RunExclude(options, pluginPath);
    if (options.command == Command::Ui)
        return RunUi(options, pluginPath, description, g_interrupted);

    auto plugin = LoadPlugin(pluginPath, &error);
    if (!plugin)
        return Fail(error);
    Session session(plugin->Entry());
    if (!session.Valid())
        return Fail("GetPluginEngine returned no engine");

    // fix --select names ids of the last scan this machine showed; the
    // scratch demo copy is the same at every run, so its fresh scan serves.
    std::string seenReport;
    const bool remembered = RecallScan(pluginPath, &seenReport);
    if (options.command == Command::Fix && !options.selectAll && !remembered &&
        !MachineIsScratchCopy())
        return Fail("fix --select takes the ids of the last scan, and this machine has none: "
                    "run scan first");

    std::string scanReport;
    if (int code = RunRequest(session, 0, "{}", &scanReport))
        return code;
    if (options.command == Command::Fix)
        return Fix(options, session, pluginPath, remembered ? seenReport : scanReport, scanReport);
    if (!RememberScan(pluginPath, scanReport, &error))
        std::cerr << "hivemender: warning: this scan could not be remembered (" << error
                  << "), so fix --select refuses until a scan is\n";
    const bool printed = PrintReport(scanReport, options, &error);
    DiscardScratchMachine();
    return printed ? kExitOk : Fail(error);
}

} // namespace

} // namespace host

int main(int argc, char** argv) {
    host::Options options;
    if (int code = host::ParseArguments(argc, argv, &options, std::cout, std::cerr); code >= 0)
        return code;
    std::signal(SIGINT, host::OnInterrupt);
    try {
        return host::Run(options);
    } catch (const std::exception& failure) {
        return host::Fail(failure.what());
    }
}
