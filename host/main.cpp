// hivemender: a command-line host for Hivemender plug-ins.
//
//   hivemender [options] scan [--explain]
//   hivemender [options] fix (--select 0-5,9 | --all) [--force]
//   hivemender [options] undo (FILE | --last | --list) [--force]
//   hivemender [options] exclude (KEYPATH | --list | --remove KEYPATH)
//   hivemender export-machine DIR OUT
//
// Exit codes: 0 success, 1 engine or usage error, 2 bad arguments.
#include "host/arguments.h"
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

// The ids a fix names: every problem of the scan for --all, else the
// selection, each of which must be a problem of that scan.
int SelectedIds(const Options& options, const std::string& scanReport, std::vector<int>* ids) {
    Report report;
    std::string error;
    if (!ParseReport(scanReport, &report, &error))
        return Fail(error);
    if (options.selectAll) {
        for (const auto& entry : report.entries)
            ids->push_back(std::stoi(Member(entry, "id")));
        return kExitOk;
    }
    const int count = static_cast<int>(report.entries.size());
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
    ids->assign(chosen.begin(), chosen.end());
    return kExitOk;
}

std::string FixRequest(const std::vector<int>& ids) {
    std::string request = "{";
    for (size_t i = 0; i < ids.size(); ++i)
        request += (i ? ", \"" : "\"") + std::to_string(ids[i]) + "\": \"fix\"";
    return request + "}";
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
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(started));
    return Fail(std::string("the engine refused the request (") + code + ")");
}

int Fix(const Options& options, Session& session, const std::string& pluginPath,
        const std::string& scanReport) {
    std::vector<int> ids;
    if (int code = SelectedIds(options, scanReport, &ids))
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
        std::string note;
        if (!ExportMachine(options.exportVolume, options.exportFolder, &note, &error))
            return Fail(error);
        if (!note.empty())
            std::cerr << "export-machine: " << note << "\n";
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

    auto plugin = LoadPlugin(pluginPath, &error);
    if (!plugin)
        return Fail(error);
    Session session(plugin->Entry());
    if (!session.Valid())
        return Fail("GetPluginEngine returned no engine");

    std::string scanReport;
    if (int code = RunRequest(session, 0, "{}", &scanReport))
        return code;
    if (options.command == Command::Fix)
        return Fix(options, session, pluginPath, scanReport);
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
