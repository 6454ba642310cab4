// The command line of the hivemender program: what a person asked for, read
// with CLI11 so that --help, --version and the error messages behave as in
// other command-line tools.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace host {

enum class Output { Default, Raw, Json, Table };
enum class Command { Scan, Fix, Undo, Exclude, ExportMachine, Ui };

// An inclusive range of problem ids; a single id is a range of one.
using IdRange = std::pair<int, int>;

struct Options {
    Command command = Command::Scan;
    std::string pluginPath;
    std::string machineFolder;
    Output output = Output::Default;
    bool explain = false;
    std::vector<IdRange> selection;
    bool selectAll = false;
    bool force = false; // write into a volume that looks in use; export over a folder's files
    bool wait = false;  // wait for another process that is changing the machine
    std::string undoFile;
    bool undoList = false;
    bool undoLast = false;
    std::string excludeKey;
    bool excludeList = false;
    std::string excludeRemove;
    std::string exportVolume; // export-machine DIR OUT
    std::string exportFolder;
    int uiPort = 0; // ui --port; 0: a free one
    bool uiNoBrowser = false;
};

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadArguments = 2;

// Prints "hivemender: <message>" on stderr; returns kExitFailed.
int Fail(const std::string& message);

// Reads argv into `options`. Help and version go to `out` (exit 0), a bad
// argument to `err` as one line (exit 2); -1 means "go on and run".
int ParseArguments(int argc, const char* const* argv, Options* options, std::ostream& out,
                   std::ostream& err);

// "0-5,9" into {0,5},{9,9}. False for anything else: empty items, signs,
// a range whose end comes before its start.
bool ParseSelection(const std::string& text, std::vector<IdRange>* ranges);

} // namespace host
