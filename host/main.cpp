// hivemender: a command-line host for Hivemender plug-ins.
//
//   hivemender [options] scan
//   hivemender [options] fix (--select 0,3,7 | --all)
//   hivemender [options] undo FILE
//
// Exit codes: 0 success, 1 engine or usage error, 2 bad arguments.
#include "host/platform.h"
#include "host/report_format.h"
#include "host/session.h"
#include "regfile/regfile.h"

#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

const char kUsage[] =
    "usage: hivemender [options] scan\n"
    "       hivemender [options] fix (--select 0,3,7 | --all)\n"
    "       hivemender [options] undo FILE\n"
    "options:\n"
    "  --plugin PATH   the plug-in to load (default: the engine built beside this program)\n"
    "  --machine DIR   the simulated machine folder (Linux; default: $HIVEMENDER_MACHINE,\n"
    "                  else a scratch copy of the demo machine)\n"
    "  --raw           print the report bytes exactly as the engine wrote them\n"
    "  --json          print the report as strict JSON\n"
    "  --table         print a readable table (the default on a terminal)\n";

enum class Output { Default, Raw, Json, Table };

struct Options {
    std::string command;
    std::string pluginPath;
    host::MachineOptions machine;
    Output output = Output::Default;
    std::vector<int> selection;
    bool selectAll = false;
    std::string undoFile;
};

std::atomic<bool> g_interrupted{false};

extern "C" void OnInterrupt(int) {
    g_interrupted = true;
}

struct ArgumentError {
    std::string message;
};

bool ParseSelection(const std::string& list, std::vector<int>* ids) {
    std::stringstream stream(list);
    std::string item;
    while (std::getline(stream, item, ',')) {
        if (item.empty() || item.size() > 9 ||
            item.find_first_not_of("0123456789") != std::string::npos)
            return false;
        ids->push_back(std::stoi(item));
    }
    return !ids->empty();
}

Options ParseArguments(int argc, char** argv) {
    Options options;
    auto needValue = [&](int& i, const std::string& flag) -> std::string {
        if (i + 1 >= argc)
            throw ArgumentError{flag + " needs a value"};
        return argv[++i];
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--plugin")
            options.pluginPath = needValue(i, arg);
        else if (arg == "--machine")
            options.machine.folder = needValue(i, arg);
        else if (arg == "--raw")
            options.output = Output::Raw;
        else if (arg == "--json")
            options.output = Output::Json;
        else if (arg == "--table")
            options.output = Output::Table;
        else if (arg == "--all")
            options.selectAll = true;
        else if (arg == "--select") {
            if (!ParseSelection(needValue(i, arg), &options.selection))
                throw ArgumentError{"--select takes problem ids separated by commas, like 0,3,7"};
        } else if (arg == "--sections")
            throw ArgumentError{"--sections is not offered: the engine fixes its sections itself"};
        else if (!arg.empty() && arg[0] == '-')
            throw ArgumentError{"unknown option " + arg};
        else if (options.command.empty())
            options.command = arg;
        else if (options.command == "undo" && options.undoFile.empty())
            options.undoFile = arg;
        else
            throw ArgumentError{"unexpected argument " + arg};
    }
    if (options.command != "scan" && options.command != "fix" && options.command != "undo")
        throw ArgumentError{options.command.empty() ? "no command given"
                                                    : "unknown command " + options.command};
    if (options.command == "fix" && options.selectAll == !options.selection.empty())
        throw ArgumentError{"fix needs either --select LIST or --all"};
    if (options.command != "fix" && (options.selectAll || !options.selection.empty()))
        throw ArgumentError{"--select and --all go with fix"};
    if (options.command == "undo" && options.undoFile.empty())
        throw ArgumentError{"undo needs the undo file"};
    return options;
}

int Fail(const std::string& message) {
    std::cerr << "hivemender: " << message << "\n";
    return kExitFailed;
}

void ShowElapsed(double seconds) {
    std::fprintf(stderr, "\rworking... %.1f s", seconds);
    std::fflush(stderr);
}

bool PrintReport(const std::string& text, Output output, std::string* error) {
    if (output == Output::Default)
        output = host::IsTerminal(1) ? Output::Table : Output::Raw;
    if (output == Output::Raw) {
        std::cout << text << std::flush;
        return true;
    }
    host::Report report;
    if (!host::ParseReport(text, &report, error))
        return false;
    std::cout << (output == Output::Json ? host::ToStrictJson(report) : host::ToTable(report))
              << std::flush;
    return true;
}

std::set<std::string> UndoFiles(const std::string& folder) {
    std::set<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*.reg").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        names.insert(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

// The ids a fix names: every problem of the scan for --all, else the
// selection, each of which must be a problem of that scan.
bool SelectedIds(const Options& options, const std::string& scanReport, std::vector<int>* ids,
                 std::string* error) {
    host::Report report;
    if (!host::ParseReport(scanReport, &report, error))
        return false;
    const int count = static_cast<int>(report.entries.size());
    if (options.selectAll) {
        for (const auto& entry : report.entries)
            ids->push_back(std::stoi(host::Member(entry, "id")));
        return true;
    }
    for (int id : options.selection) {
        if (id >= count) {
            *error = "no problem " + std::to_string(id) + ": the scan found " +
                     (count == 0 ? std::string("none")
                                 : std::to_string(count) + " (ids 0 to " +
                                       std::to_string(count - 1) + ")");
            return false;
        }
    }
    *ids = options.selection;
    return true;
}

std::string FixRequest(const std::vector<int>& ids) {
    std::string request = "{";
    for (size_t i = 0; i < ids.size(); ++i)
        request += (i ? ", \"" : "\"") + std::to_string(ids[i]) + "\": \"fix\"";
    return request + "}";
}

int RunRequest(host::Session& session, int mode, const std::string& request, std::string* report) {
    HRESULT started = S_OK;
    const bool showProgress = host::IsTerminal(2);
    switch (session.Run(mode, request, g_interrupted, showProgress ? ShowElapsed : nullptr, report,
                        &started)) {
    case host::Session::Outcome::Report:
        if (showProgress)
            std::fprintf(stderr, "\r%*s\r", 24, "");
        return kExitOk;
    case host::Session::Outcome::Interrupted:
        std::fprintf(stderr, "\n");
        return Fail("interrupted: the engine was stopped and no report was made");
    case host::Session::Outcome::StartFailed:
        break;
    }
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", static_cast<unsigned>(started));
    return Fail(std::string("the engine refused the request (") + code + ")");
}

// An undo file only puts back what a fix took away; a file that deletes
// anything is someone else's, and importing it could wipe a whole hive.
std::string FirstDeletion(const regfile::Script& script) {
    for (const auto& key : script.keys) {
        if (key.remove)
            return "deletes the key " + key.keyPath;
        for (const auto& value : key.values) {
            if (value.remove)
                return "deletes the value \"" + value.name + "\" of " + key.keyPath;
        }
    }
    return {};
}

int Undo(const Options& options) {
    std::ifstream in(host::LocalPathFor(options.undoFile), std::ios::binary);
    if (!in)
        return Fail("cannot read " + options.undoFile);
    std::ostringstream content;
    content << in.rdbuf();
    const std::string bytes = content.str();
    if (bytes.empty()) {
        // A fix stopped before it saved anything leaves its undo file empty,
        // and having saved nothing it changed nothing.
        std::cout << "nothing to restore: " << options.undoFile << " is empty\n";
        return kExitOk;
    }
    regfile::Script script;
    std::string error;
    if (!regfile::Parse(std::vector<uint8_t>(bytes.begin(), bytes.end()), options.undoFile, &script,
                        &error))
        return Fail(error);
    if (const std::string deletion = FirstDeletion(script); !deletion.empty())
        return Fail(options.undoFile + " is not an undo file: it " + deletion);
    if (regfile::Apply(script, &error) != ERROR_SUCCESS)
        return Fail("restoring " + options.undoFile + ": " + error);
    if (!host::SaveMachine(&error))
        return Fail(error);
    size_t values = 0;
    for (const auto& key : script.keys)
        values += key.values.size();
    std::cout << "restored " << script.keys.size() << " keys and " << values << " values from "
              << options.undoFile << "\n";
    return kExitOk;
}

int Run(const Options& options) {
    std::string description, error;
    if (!host::PrepareMachine(options.machine, &description, &error))
        return Fail(error);
    std::cerr << "machine: " << description << "\n";
    if (options.command == "undo")
        return Undo(options);

    const std::string pluginPath =
        options.pluginPath.empty() ? host::DefaultPluginPath() : options.pluginPath;
    auto plugin = host::LoadPlugin(pluginPath, &error);
    if (!plugin)
        return Fail(error);
    host::Session session(plugin->Entry());
    if (!session.Valid())
        return Fail("GetPluginEngine returned no engine");

    std::string scanReport;
    if (int code = RunRequest(session, 0, "{}", &scanReport))
        return code;
    if (options.command == "scan") {
        host::DiscardScratchMachine();
        return PrintReport(scanReport, options.output, &error) ? kExitOk : Fail(error);
    }

    std::vector<int> ids;
    if (!SelectedIds(options, scanReport, &ids, &error)) {
        std::cerr << "hivemender: " << error << "\n";
        return kExitBadArguments;
    }
    if (ids.empty()) {
        // Nothing to repair: no undo file, and the machine stays as it is.
        std::cerr << "nothing to fix: the scan found no problems\n";
        return kExitOk;
    }
    const std::string undoFolder = host::PluginWindowsFolder(pluginPath) + "\\Undo\\Hivemender";
    const std::set<std::string> before = UndoFiles(undoFolder);
    std::string fixReport;
    if (int code = RunRequest(session, 1, FixRequest(ids), &fixReport))
        return code;
    host::Report parsed;
    if (host::ParseReport(fixReport, &parsed, &error)) {
        const std::string failure = host::Member(parsed.members, "error");
        if (!failure.empty()) {
            PrintReport(fixReport, options.output, &error);
            return Fail("the fix failed: " + failure);
        }
    }
    if (!host::SaveMachine(&error))
        return Fail(error);
    if (!PrintReport(fixReport, options.output, &error))
        return Fail(error);
    for (const auto& name : UndoFiles(undoFolder)) {
        if (!before.count(name))
            std::cerr << "undo file: " << host::LocalPathFor(undoFolder + "\\" + name) << "\n";
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    try {
        options = ParseArguments(argc, argv);
    } catch (const ArgumentError& bad) {
        std::cerr << "hivemender: " << bad.message << "\n" << kUsage;
        return kExitBadArguments;
    }
    std::signal(SIGINT, OnInterrupt);
    try {
        return Run(options);
    } catch (const std::exception& failure) {
        return Fail(failure.what());
    }
}
