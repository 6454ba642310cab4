// The undo writer on the registry it runs over (the Windows build under
// wine64; bench/run-wine-undo-bench): a key of N values, each saved into
// the undo file and then deleted, as a fix does; then the same with the
// values spread over two keys and taken in turn, so that every entry but the
// first two belongs to a section the file does not end in.
//
//   undo_writer_bench N
//
// Prints wall seconds per phase and per entry: Wine answers registry calls
// in its server process, whose work a process's own processor time leaves
// out. The writes into the undo file are counted from outside (strace).
#include "fix/undo_file.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

const std::string kRoot = "HKEY_CURRENT_USER\\Software\\HivemenderUndoBench";

double WallSecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string ValueName(int i) {
    char name[64];
    std::snprintf(name, sizeof(name), "C:\\Program Files\\Gone\\lib%06d.dll", i);
    return name;
}

bool Fill(const std::string& subkey, int first, int count) {
    HKEY key = nullptr;
    const std::string path = kRoot.substr(kRoot.find('\\') + 1) + "\\" + subkey;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD one = 1;
    for (int i = first; i < first + count; ++i)
        RegSetValueExA(key, ValueName(i).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                       sizeof(one));
    RegCloseKey(key);
    return true;
}

// Saves each (key, value) into a new undo file, groups it, then deletes the
// values, as a fix does, timing the writer apart from Wine's deletes.
bool Run(const char* what, const std::vector<std::pair<std::string, std::string>>& values) {
    const auto start = std::chrono::steady_clock::now();
    CUndoFile undo = CreateUndoFile();
    if (!undo.IsOpen())
        return false;
    std::map<std::string, RegKey> keys;
    for (const auto& [name, value] : values) {
        RegKey& key = keys[name];
        if (!key.Handle() && key.OpenByText(kRoot + "\\" + name, KEY_READ | KEY_WRITE) != ERROR_SUCCESS)
            return false;
        if (ExportValueToUndo(key, value, undo) != ERROR_SUCCESS)
            return false;
    }
    const double saving = WallSecondsSince(start);
    FinishUndoFile(undo);
    const double writing = WallSecondsSince(start);
    for (const auto& [name, value] : values)
        RegDeleteValueA(keys[name].Handle(), value.c_str());
    const double deleting = WallSecondsSince(start) - writing;
    const auto count = static_cast<double>(values.size());
    std::printf("%s: %zu entries, writer %.3f s (%.1f us an entry, grouping %.3f s), "
                "deletes %.3f s (%.1f us a value), file %s\n",
                what, values.size(), writing, writing * 1e6 / count, writing - saving, deleting,
                deleting * 1e6 / count, undo.m_path.c_str());
    std::fflush(stdout);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 2000;
    std::vector<std::pair<std::string, std::string>> oneKey, twoKeys;
    if (!Fill("One", 0, count) || !Fill("A", 0, count / 2) || !Fill("B", count / 2, count - count / 2))
        return 1;
    for (int i = 0; i < count; ++i)
        oneKey.emplace_back("One", ValueName(i));
    for (int i = 0; i < count / 2; ++i) {
        twoKeys.emplace_back("A", ValueName(i));
        twoKeys.emplace_back("B", ValueName(count / 2 + i));
    }
    if (!Run("one key", oneKey) || !Run("two keys in turn", twoKeys))
        return 1;
    return 0;
}
