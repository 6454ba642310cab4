// The .reg reader, and the round trip through the registry: whatever parses
// and applies must export as text that parses and applies to the very same
// registry again. A difference means the writer and the reader disagree,
// which is how an undo file would lose data.
#include "fuzz_machine.h"
#include "registry/key_walk.h"
#include "regfile/regfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const std::vector<std::string> kRoots = {"HKEY_LOCAL_MACHINE", "HKEY_USERS"};

std::vector<uint8_t> ExportAll() {
    // UTF-16: 8-bit text would spell two names outside 1252 alike.
    return regfile::Export(kRoots, regfile::Encoding::Utf16le);
}

// The export holds no deletions, so it can only rebuild what the first
// apply left if it starts from nothing: the machine's own keys that the
// input deleted would otherwise come back.
void EmptyRoots() {
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        std::vector<std::string> names;
        (void)ReadSubkeyNames(root, names);
        for (const std::string& name : names)
            (void)DeleteKeyTree(root, name, 0);
    }
}

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "regfile round trip: %s: %s\n", what, detail.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    regfile::Script script;
    std::string error;
    if (!regfile::Parse(std::vector<uint8_t>(data, data + size), "input", &script, &error))
        return 0;
    hmfuzz::ResetFuzzMachine();
    if (regfile::Apply(script, &error) != ERROR_SUCCESS)
        return 0;
    const std::vector<uint8_t> first = ExportAll();

    regfile::Script again;
    if (!regfile::Parse(first, "export", &again, &error))
        Fail("the export does not parse", error);
    hmfuzz::ResetFuzzMachine();
    EmptyRoots();
    if (regfile::Apply(again, &error) != ERROR_SUCCESS)
        Fail("the export does not apply", error);
    if (ExportAll() != first)
        Fail("the registry changed", "export, import and export again differ");
    return 0;
}
