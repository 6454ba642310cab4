// hivemender: a command-line host for Hivemender plug-ins.
//
//   hivemender [options] scan [--explain]
//   hivemender [options] fix (--select 0-5,9 | --all) [--force] [--wait]
//   hivemender [options] undo (FILE | --last | --list) [--force] [--wait]
//   hivemender [options] exclude (KEYPATH | --list | --remove KEYPATH) [--wait]
//   hivemender [options] ui [--port N] [--no-browser]
//   hivemender export-machine DIR OUT [--force] [--wait]
//
// Exit codes: 0 success, 1 engine or usage error (a busy machine too),
// 2 bad arguments.
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
#include <cctype>
#include <map>
#include <regex>

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
            notes[Member(entry, "id")] = ExplainValue(entry);
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
int SelectedIds(const Options& options, const std::string& seenReport, const Report& fresh,
                std::vector<int>* ids) {
    Report seen;
    std::string error;
    if (options.selectAll) {
        for (const auto& entry : fresh.entries) {
            if (IsUnreadable(entry))
                std::cerr << "problem " << Member(entry, "id") << " is left alone: "
                          << kUnreadableText << "\n";
            else
                ids->push_back(std::stoi(Member(entry, "id")));
        }
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
        for (int id = first; id <= last; ++id) {
            if (IsUnreadable(seen.entries[static_cast<size_t>(id)]))
                return Fail("problem " + std::to_string(id) + " cannot be fixed: " +
                            kUnreadableText);
            chosen.insert(id);
        }
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

std::string Counted(size_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// Compares problems by section, key and value; the classes root is the
// machine's classes to the eye of this comparison, as the two sections that
// report it see the same keys.
std::string ProblemKey(const std::string& keyPath) {
    std::string key = keyPath;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return c < 0x80 ? std::toupper(c) : c; });
    const std::string classesRoot = "HKEY_CLASSES_ROOT";
    if (key.compare(0, classesRoot.size(), classesRoot) == 0)
        key.replace(0, classesRoot.size(), "HKEY_LOCAL_MACHINE\\SOFTWARE\\CLASSES");
    return key;
}

std::string ProblemIdentity(const Members& entry) {
    return Member(entry, "section") + "\n" + ProblemKey(Member(entry, "key path")) + "\n" +
           Member(entry, "value name");
}

// A fix that deletes a key can leave its parent empty, and the next scan
// reports the parent: the user hears so now rather than on the next scan.
void TellWhatTheFixUncovered(const Report& scan, const Report& fix, const Report& rescan) {
    std::set<std::string> known, emptiedParents;
    for (const Members& entry : scan.entries)
        known.insert(ProblemIdentity(entry));
    for (const Members& entry : fix.entries) {
        const std::string key = ProblemKey(Member(entry, "key path"));
        if (Member(entry, "fixed") == "true" && Member(entry, "value name").empty() &&
            key.rfind('\\') != std::string::npos)
            emptiedParents.insert(key.substr(0, key.rfind('\\')));
    }
    size_t uncovered = 0, others = 0;
    for (const Members& entry : rescan.entries) {
        if (known.count(ProblemIdentity(entry)) == 0)
            ++(emptiedParents.count(ProblemKey(Member(entry, "key path"))) ? uncovered : others);
    }
    if (uncovered != 0)
        std::cerr << Counted(uncovered, "more problem", "more problems") << " appeared because this fix emptied their keys; run fix again\n";
    if (others != 0)
        std::cerr << Counted(others, "problem", "problems") << " not in the scan before the fix\n";
}

// Scans again after a fix and tells what the fix uncovered; silent when the
// scan cannot be made or read (the fix itself is done and saved).
void RescanAfterFix(Session& session, const Report& scan, const Report& fix) {
    std::string rescanReport, error;
    Report rescan;
    if (RunRequest(session, 0, "{}", &rescanReport) == kExitOk &&
        ParseReport(rescanReport, &rescan, &error))
        TellWhatTheFixUncovered(scan, fix, rescan);
}

// The engine ends some messages with a Win32 error code; its text stays as it
// is (hosts match it), and the number is put into words after it.
std::string WithErrorWords(const std::string& message) {
    static const std::regex code("\\(error ([0-9]+)\\)");
    static const std::map<unsigned long, const char*> words = {
        {2, "a file was not found"},
        {3, "a folder was not found and could not be made (is the disk read-only?)"},
        {5, "access was denied"},
        {19, "the disk is write-protected"},
        {29, "the disk could not be written"},
        {32, "another program has the file open"},
        {39, "the disk is full"},
        {112, "there is not enough space on the disk"},
        {206, "the path is too long"},
    };
    std::smatch match;
    if (!std::regex_search(message, match, code))
        return message;
    const auto found = words.find(std::stoul(match[1].str()));
    return found == words.end() ? message
                                : message + ": error " + match[1].str() + " means " + found->second;
}

int Fix(const Options& options, Session& session, const std::string& pluginPath,
        const std::string& seenReport, const std::string& scanReport) {
    // A report of many problems takes a while to read: once serves.
    std::string fixReport, error;
    Report fresh;
    if (!ParseReport(scanReport, &fresh, &error))
        return Fail(error);
    std::vector<int> ids;
    if (int code = SelectedIds(options, seenReport, fresh, &ids))
        return code;
    if (ids.empty()) {
        // Nothing to repair: no undo file, and the machine stays as it is.
        std::cerr << "nothing to fix: the scan found no problems\n";
        return kExitOk;
    }
    if (!MachineAcceptsChanges(options.force, KeyPathsOf(fresh, ids), &error))
        return Fail(error);
    const std::string undoFolder = UndoFolder(pluginPath);
    const std::vector<std::string> before = UndoFiles(undoFolder);
    // Where the journal cannot be begun, the engine cannot write its undo
    // file either and says why; a fix that saves is told below.
    BeginUndoJournal(undoFolder, &error);
    NotePhase("select");
    if (int code = RunRequest(session, 1, FixRequest(ids), &fixReport))
        return code;
    NotePhase("fix");
    // A report with an "error" may still list repairs that were made (those
    // whose old state was saved): they are kept like any other. With none,
    // the machine is left as it was, byte for byte.
    Report parsed;
    const bool readable = ParseReport(fixReport, &parsed, &error);
    const std::string failure = readable ? Member(parsed.members, "error") : "";
    const bool repaired = std::any_of(parsed.entries.begin(), parsed.entries.end(),
                                      [](const Members& e) { return Member(e, "fixed") == "true"; });
    const bool saving = failure.empty() || repaired;
    if (saving && !SaveMachine(&error))
        return Fail(error);
    NotePhase("save");
    if (!PrintReport(fixReport, options, &error))
        return Fail(error);
    std::string unjournaled;
    for (const auto& name : UndoFiles(undoFolder)) {
        if (std::find(before.begin(), before.end(), name) != before.end())
            continue;
        std::cerr << "undo file: " << LocalPathFor(undoFolder + "\\" + name) << "\n";
        if (saving && !RecordInJournal(undoFolder, name, false, &error))
            unjournaled = error;
    }
    if (!unjournaled.empty())
        return Fail("the fix is saved, but " + unjournaled +
                    ": undo --last does not offer it; undo FILE restores it");
    if (!failure.empty())
        return Fail("the fix failed: " + WithErrorWords(failure));
    if (readable)
        RescanAfterFix(session, fresh, parsed);
    NotePhase("rescan");
    return kExitOk;
}

const char* CommandName(Command command) {
    switch (command) {
    case Command::Fix:
        return "fix";
    case Command::Undo:
        return "undo";
    case Command::Exclude:
        return "exclude";
    default:
        return "a scan";
    }
}

bool ChangesMachine(const Options& options) {
    return options.command == Command::Fix || (options.command == Command::Undo && !options.undoList) ||
           (options.command == Command::Exclude && !options.excludeList);
}

int Run(const Options& options) {
    std::string description, error;
    if (options.command == Command::ExportMachine) {
        std::string note;
        if (!ExportMachine(options.exportVolume, options.exportFolder, options.force, options.wait,
                           &note, &error))
            return Fail(error);
        if (!note.empty())
            std::cerr << "export-machine: " << note << "\n";
        std::cerr << "machine folder written: " << options.exportFolder << "\n";
        return kExitOk;
    }
    const MachineOptions machine{options.machineFolder, options.force};
    // Held until this function returns: the save is complete by then.
    std::unique_ptr<MachineLock> lock;
    if (ChangesMachine(options) &&
        !(lock = LockMachine(machine, CommandName(options.command), options.wait, &error)))
        return Fail(error);
    NotePhase("start");
    if (!PrepareMachine(machine, &description, &error))
        return Fail(error);
    NotePhase("load");
    std::cerr << "machine: " << description << "\n";
    const std::string pluginPath =
        options.pluginPath.empty() ? DefaultPluginPath() : options.pluginPath;
    if (options.command == Command::Undo) {
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
    NotePhase("scan");
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
