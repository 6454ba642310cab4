// regkeys.txt: any bytes load without a crash or a read outside the file,
// and the list answers for key paths afterwards.
#include "fuzz_machine.h"
#include "scan/exclusion_list.h"

#include <cstddef>
#include <cstdint>
#include <fstream>

namespace {

constexpr char kListPath[] = "C:\\Hivemender\\regkeys.txt";

bool PrepareMachine() {
    hmfuzz::ResetFuzzMachine();
    std::filesystem::create_directories(win32sim::HostPathFor("C:\\Hivemender"));
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool prepared = PrepareMachine();
    (void)prepared;
    std::ofstream(win32sim::HostPathFor(kListPath), std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    CExclusionList list;
    list.Load(kListPath);
    list.IsExcluded("HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor", kListPath);
    list.IsExcluded("HKEY_USERS\\S-1-5-18\\Software", kListPath);
    return 0;
}
