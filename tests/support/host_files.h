// Host files for the tests that stage the simulated machine (Linux builds):
// fresh folders below the temporary folder, and files read and written whole.
#pragma once

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

namespace hmtest {

// A new, empty folder "<prefix>-<process>-<n>" below the temporary folder;
// one count for the whole program, so no two callers share a folder.
inline std::filesystem::path FreshHostFolder(const std::string& prefix) {
    static std::atomic<int> sequence{0};
    const auto folder =
        std::filesystem::temp_directory_path() /
        (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(++sequence));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

inline std::string ReadHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates or replaces the file, and the folders above it.
inline void WriteHostFile(const std::filesystem::path& path, const std::string& bytes = "") {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace hmtest
