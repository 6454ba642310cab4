// What the hive tests share: hives made from .reg text, the fields of their
// bytes, and .reg text applied to the stand-in.
#pragma once

#include "regfile/regfile.h"
#include "support/host_files.h"
#include <win32sim/machine.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace hmtest {

// What the command writes; a command that fails fails the test.
inline std::string RunCommand(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;)
            out.append(buffer, n);
        EXPECT_EQ(0, ::pclose(pipe)) << command;
    }
    return out;
}

// A hive file in format 1.`minor` holding the keys of .reg `text` below `prefix`.
inline void MakeHive(const std::filesystem::path& hive, const std::string& prefix,
                     const std::string& text, int minor = 3) {
    const std::filesystem::path source = hive.string() + ".source.reg";
    WriteHostFile(source, text);
    ASSERT_EQ(0, std::system(("'" HM_SOURCE_DIR "/tests/support/make-hive' --minor " +
                              std::to_string(minor) + " --prefix '" + prefix + "' '" +
                              hive.string() + "' '" + source.string() + "'")
                                 .c_str()));
    std::filesystem::remove(source);
}

inline uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t word = 0;
    std::memcpy(&word, &bytes[at], 4);
    return word;
}

// Sets a 32-bit field of the base block and its checksum (the XOR of the
// block's first 127 fields), as Windows writes a header.
inline void SetBaseBlockField(std::string* bytes, size_t at, uint32_t word) {
    std::memcpy(&(*bytes)[at], &word, 4);
    uint32_t sum = 0;
    for (size_t offset = 0; offset < 0x1FC; offset += 4)
        sum ^= Le32(*bytes, offset);
    std::memcpy(&(*bytes)[0x1FC], &sum, 4);
}

// The key record (nk) in use of a key named in Latin-1, as hivex stores it:
// the offset of its cell.
inline size_t KeyRecord(const std::string& bytes, const std::string& name) {
    for (size_t at = bytes.find(name); at != std::string::npos; at = bytes.find(name, at + 1)) {
        if (at >= 0x50 && bytes.compare(at - 0x4C, 2, "nk") == 0 &&
            Le32(bytes, at - 4) % 0x10000 == name.size() && Le32(bytes, at - 0x50) >> 31)
            return at - 0x50;
    }
    ADD_FAILURE() << "no key " << name;
    return 0;
}

// Applies .reg text to the stand-in, past any denial.
inline void ApplyRegText(const std::string& text) {
    regfile::Script script;
    std::string error;
    ASSERT_TRUE(
        regfile::Parse(std::vector<uint8_t>(text.begin(), text.end()), "test", &script, &error))
        << error;
    win32sim::PrivilegedScope privileged;
    ASSERT_EQ(ERROR_SUCCESS, regfile::Apply(script, &error)) << error;
}

} // namespace hmtest
