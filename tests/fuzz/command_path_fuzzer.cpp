// Command-line path extraction and the value check: any value text is taken
// apart without a crash, a read outside it or an endless loop, on a machine
// with a few files for the probes to find.
#include "fileref/command_path.h"
#include "fileref/reference_check.h"
#include "fuzz_machine.h"

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

bool PrepareMachine() {
    hmfuzz::ResetFuzzMachine();
    for (const char* file : {"C:\\Windows\\system32\\rundll32.exe", "C:\\Windows\\notepad.exe",
                             "C:\\Program Files\\Vendor\\app.exe"}) {
        const std::string host = win32sim::HostPathFor(file);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        std::ofstream(host).put('\0');
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = PrepareMachine();
    (void)prepared;
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string text = input;
    ExtractCommandPath(text);
    text = input;
    std::string file;
    CheckFileReference(text, file);
    text = input;
    CheckDrivePathReference(text, file);
    return 0;
}
