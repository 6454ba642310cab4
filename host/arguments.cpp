#include "host/arguments.h"

#include "host/exclusion_file.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <iostream>
#include <regex>
#include <sstream>

namespace host {
namespace {

struct ArgumentError {
    std::string message;
};

const char kFooter[] = "Exit codes: 0 success, 1 engine or usage error, 2 bad arguments.\n"
                       "Run 'hivemender COMMAND --help' for the options of one command.";

void AddCommonOptions(CLI::App& app, Options* options) {
    app.add_option("--plugin", options->pluginPath,
                   "the plug-in to load (default: the one beside this program)")
        ->type_name("PATH");
    app.add_option("--machine", options->machineFolder,
                   "Linux: the simulated machine (default: $HIVEMENDER_MACHINE, else a scratch\n"
                   "copy of the demo machine)")
        ->type_name("DIR");
    // The last of the three counts, as in the scripts people already have.
    app.add_flag_callback(
        "--raw", [options] { options->output = Output::Raw; },
        "the report's bytes exactly as the engine wrote them");
    app.add_flag_callback(
        "--json", [options] { options->output = Output::Json; }, "the report as strict JSON");
    app.add_flag_callback(
        "--table", [options] { options->output = Output::Table; },
        "a readable table (the default on a terminal; COLUMNS sets its width)");
}

// Only a Windows volume's hives are ever refused; the message says why.
void AddForce(CLI::App* command, Options* options) {
    command->add_flag("--force", options->force,
                      "Linux: write into a Windows volume that looks in use (hibernated, or a\n"
                      "hive not cleanly shut down)");
}

// Every command that changes the machine takes its lock; a second one is
// refused at once unless told to wait.
void AddWait(CLI::App* command, Options* options) {
    command->add_flag("--wait", options->wait,
                      "wait while another hivemender changes the machine, instead of giving up");
}

CLI::App* AddScan(CLI::App& app, Options* options) {
    auto* scan = app.add_subcommand("scan", "scan the registry and print the problems found");
    scan->add_flag("--explain", options->explain,
                   "show, below each value problem, the value's data and the file it names");
    return scan;
}

CLI::App* AddFix(CLI::App& app, Options* options, std::string* selection) {
    auto* fix = app.add_subcommand(
        "fix", "scan, then fix the chosen problems of that scan after saving an undo file");
    fix->add_option("--select", *selection,
                    "problem ids and ranges, like 0-5,9, as the last scan of this machine\n"
                    "printed them; if any of them is gone from a fresh scan (the machine\n"
                    "changed), nothing is fixed")
        ->type_name("LIST");
    // Given twice, like --select twice, it is refused.
    fix->add_flag("--all", options->selectAll, "fix every problem the scan found")
        ->multi_option_policy(CLI::MultiOptionPolicy::Throw);
    AddForce(fix, options);
    AddWait(fix, options);
    return fix;
}

CLI::App* AddUndo(CLI::App& app, Options* options) {
    auto* undo = app.add_subcommand("undo", "restore an undo file, or list the machine's");
    undo->add_option("file", options->undoFile, "the undo file to restore")->type_name("FILE");
    undo->add_flag("--list", options->undoList,
                   "list the undo files of saved fixes in the order they ran, with what each "
                   "restores and whether it was restored");
    undo->add_flag("--last", options->undoLast,
                   "restore the newest saved fix, once (again, it names the file before it)");
    AddForce(undo, options);
    AddWait(undo, options);
    return undo;
}

CLI::App* AddExclude(CLI::App& app, Options* options) {
    auto* exclude = app.add_subcommand("exclude", "keep a key out of every future scan");
    exclude->add_option("keypath", options->excludeKey, "the key to keep out")
        ->type_name("KEYPATH");
    exclude->add_flag("--list", options->excludeList, "list the excluded keys");
    exclude->add_option("--remove", options->excludeRemove, "scan the key again")
        ->type_name("KEYPATH");
    AddWait(exclude, options);
    return exclude;
}

CLI::App* AddUi(CLI::App& app, Options* options) {
    auto* ui = app.add_subcommand(
        "ui", "serve a page on 127.0.0.1 to scan, fix, restore and exclude from a web browser,\n"
              "until the page's Quit or Ctrl-C");
    ui->add_option("--port", options->uiPort, "the port to listen on (default: a free one)")
        ->type_name("N")
        ->check(CLI::Range(1, 65535));
    ui->add_flag("--no-browser", options->uiNoBrowser, "only print the page's address");
    return ui;
}

CLI::App* AddExportMachine(CLI::App& app, Options* options) {
    auto* exportMachine = app.add_subcommand(
        "export-machine",
        "Linux: write an offline Windows installation as a machine folder (machine.reg and\n"
        "machine.ini, whose [drives] line puts drive C on DIR: edit it if DIR moves)");
    exportMachine->add_option("volume", options->exportVolume, "the root of the Windows volume")
        ->type_name("DIR")
        ->required();
    exportMachine->add_option("out", options->exportFolder, "the machine folder to write")
        ->type_name("OUT")
        ->required();
    exportMachine->add_flag("--force", options->force,
                            "replace the machine.reg and machine.ini of an OUT that holds files");
    AddWait(exportMachine, options);
    return exportMachine;
}

// The subcommand an option belongs to, when the person gave it to another.
std::string OwnerOfOption(const CLI::App& app, const std::string& name) {
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_option_no_throw(name) != nullptr)
            return sub->get_name();
    }
    return {};
}

// CLI11 keeps what it does not know; each kind gets the message people know.
void RejectExtras(const CLI::App& app, bool hasCommand) {
    const std::vector<std::string> extras = app.remaining(true);
    if (extras.empty())
        return;
    std::string extra = extras.front();
    if (extra.rfind("--", 0) == 0)
        extra = extra.substr(0, extra.find('='));
    if (extra == "--sections")
        throw ArgumentError{"--sections is not offered: the engine fixes its sections itself"};
    if (extra.size() > 1 && extra[0] == '-') {
        const std::string owner = OwnerOfOption(app, extra);
        throw ArgumentError{owner.empty() ? "unknown option " + extra
                                          : extra + " goes with " + owner};
    }
    throw ArgumentError{hasCommand ? "unexpected argument " + extra : "unknown command " + extra};
}

int CountOf(std::initializer_list<bool> choices) {
    int count = 0;
    for (bool chosen : choices)
        count += chosen ? 1 : 0;
    return count;
}

// The engine matches exclusions by the long root name, with no trailing
// backslash; a person may type either form.
void NormaliseKeyPath(std::string* keyPath) {
    if (keyPath->empty())
        return;
    std::string error;
    *keyPath = ExclusionKeyPath(*keyPath, &error);
    if (keyPath->empty())
        throw ArgumentError{error};
}

void CheckCommand(Options& options, const std::string& selection) {
    switch (options.command) {
    case Command::Scan:
        if (options.explain && (options.output == Output::Raw || options.output == Output::Json))
            throw ArgumentError{"--explain goes with the table, not with --raw or --json"};
        break;
    case Command::Fix:
        if (options.selectAll == !selection.empty())
            throw ArgumentError{"fix needs either --select LIST or --all"};
        break;
    case Command::Undo:
        if (CountOf({!options.undoFile.empty(), options.undoList, options.undoLast}) != 1)
            throw ArgumentError{"undo needs one of: the undo file, --list, --last"};
        if (std::error_code ignored; std::filesystem::is_directory(options.undoFile, ignored))
            throw ArgumentError{"undo needs an undo file, and " + options.undoFile +
                                " is a folder (undo --list shows the files)"};
        break;
    case Command::Exclude:
        if (CountOf({!options.excludeKey.empty(), options.excludeList,
                     !options.excludeRemove.empty()}) != 1)
            throw ArgumentError{"exclude needs one of: KEYPATH, --list, --remove KEYPATH"};
        NormaliseKeyPath(&options.excludeKey);
        NormaliseKeyPath(&options.excludeRemove);
        break;
    case Command::ExportMachine:
    case Command::Ui:
        break;
    }
}

// CLI11 says "--plugin: 1 required PATH missing"; people read "needs a value".
std::string OneLine(const CLI::ParseError& error) {
    static const std::regex missingValue("^(-[^:]+): [0-9]+ required .* missing$");
    std::string text = error.what();
    std::smatch match;
    if (std::regex_match(text, match, missingValue))
        return match[1].str() + " needs a value";
    text = text.substr(0, text.find('\n'));
    return text;
}

} // namespace

int Fail(const std::string& message) {
    std::cerr << "hivemender: " << message << "\n";
    return kExitFailed;
}

bool ParseSelection(const std::string& text, std::vector<IdRange>* ranges) {
    static const std::regex item("([0-9]{1,9})(?:-([0-9]{1,9}))?");
    std::stringstream stream(text);
    std::string part;
    ranges->clear();
    while (std::getline(stream, part, ',')) {
        std::smatch match;
        if (!std::regex_match(part, match, item))
            return false;
        const int first = std::stoi(match[1].str());
        const int last = match[2].matched ? std::stoi(match[2].str()) : first;
        if (last < first)
            return false;
        ranges->emplace_back(first, last);
    }
    return !ranges->empty() && text.back() != ',';
}

int ParseArguments(int argc, const char* const* argv, Options* options, std::ostream& out,
                   std::ostream& err) {
    CLI::App app{"Finds registry entries that name missing files, and repairs them.", "hivemender"};
    app.set_version_flag("--version", "hivemender " HM_VERSION);
    app.footer(kFooter);
    app.get_formatter()->label("SUBCOMMAND", "COMMAND");
    app.get_formatter()->label("SUBCOMMANDS", "COMMANDS");
    app.get_formatter()->column_width(24);
    app.fallthrough();
    app.allow_extras();
    app.require_subcommand(0, 1);
    AddCommonOptions(app, options);
    std::string selection;
    const std::pair<CLI::App*, Command> commands[] = {
        {AddScan(app, options), Command::Scan},
        {AddFix(app, options, &selection), Command::Fix},
        {AddUndo(app, options), Command::Undo},
        {AddExclude(app, options), Command::Exclude},
        {AddExportMachine(app, options), Command::ExportMachine},
        {AddUi(app, options), Command::Ui},
    };
    for (const auto& [sub, command] : commands) {
        sub->allow_extras();
        sub->group("Commands");
    }
    try {
        app.parse(argc, argv);
        const auto chosen = app.get_subcommands();
        RejectExtras(app, !chosen.empty());
        if (chosen.empty())
            throw ArgumentError{"no command given"};
        for (const auto& [sub, command] : commands) {
            if (sub == chosen.front())
                options->command = command;
        }
        CheckCommand(*options, selection);
        if (!selection.empty() && !ParseSelection(selection, &options->selection))
            throw ArgumentError{"--select takes problem ids and ranges separated by commas, "
                                "like 0-5,9"};
    } catch (const CLI::CallForHelp&) {
        out << app.help(); // the chosen command's help, when one was given
        return kExitOk;
    } catch (const CLI::CallForVersion& version) {
        out << version.what() << "\n";
        return kExitOk;
    } catch (const CLI::ParseError& error) {
        err << "hivemender: " << OneLine(error) << " (see hivemender --help)\n";
        return kExitBadArguments;
    } catch (const ArgumentError& error) {
        err << "hivemender: " << error.message << " (see hivemender --help)\n";
        return kExitBadArguments;
    }
    return -1;
}

} // namespace host
