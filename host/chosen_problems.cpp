#include "host/chosen_problems.h"

#include "base/file_read.h"
#include "host/commands.h"
#include "host/platform.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

namespace host {
namespace {

// Not "*.reg": the undo listing must never take it for an undo file (and a
// short 8.3 name of a longer extension starting with "reg" would match).
constexpr char kRememberedName[] = "last scan.txt";

std::string RememberedPath(const std::string& pluginPath) {
    return LocalPathFor(UndoFolder(pluginPath) + "\\" + kRememberedName);
}

using Identity = std::tuple<std::string, std::string, std::string, std::string>;

Identity IdentityOf(const Members& problem) {
    return {Member(problem, "section"), Member(problem, "key path"), Member(problem, "value name"),
            Member(problem, "new value")};
}

// Each problem's (identity, rank among problems of the same identity).
std::vector<std::pair<Identity, int>> Ranked(const Report& report) {
    std::map<Identity, int> seenSoFar;
    std::vector<std::pair<Identity, int>> ranked;
    for (const Members& problem : report.entries) {
        Identity identity = IdentityOf(problem);
        const int rank = seenSoFar[identity]++;
        ranked.emplace_back(std::move(identity), rank);
    }
    return ranked;
}

} // namespace

bool RememberScan(const std::string& pluginPath, const std::string& report, std::string* error) {
    const std::string path = RememberedPath(pluginPath);
    // Scans take no lock: each writes a new file of its own.
    const std::string temporary =
        path + ".new-" +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
    if (WriteFileAtomically(path, temporary, report, error))
        return true;
    // A scan that cannot be remembered must not leave an older one to be
    // taken for it.
    std::remove(path.c_str());
    return false;
}

bool RecallScan(const std::string& pluginPath, std::string* report) {
    return base::ReadHostFile(RememberedPath(pluginPath), report);
}

bool MatchChosen(const Report& seen, const std::vector<int>& chosen, const Report& fresh,
                 std::vector<int>* freshIds, std::string* missing) {
    // Ids are looked up by the report's own "id" members, not by position.
    std::map<int, size_t> seenById;
    for (size_t i = 0; i < seen.entries.size(); ++i)
        seenById.emplace(std::stoi(Member(seen.entries[i], "id")), i);
    const auto seenRanked = Ranked(seen);
    const auto freshRanked = Ranked(fresh);
    std::map<std::pair<Identity, int>, int> freshByIdentity;
    // A problem whose report can be read more than one way is never a match:
    // what it names is not certain.
    for (size_t i = 0; i < freshRanked.size(); ++i) {
        if (!IsUnreadable(fresh.entries[i]))
            freshByIdentity.emplace(freshRanked[i], std::stoi(Member(fresh.entries[i], "id")));
    }
    freshIds->clear();
    for (int id : chosen) {
        const auto inSeen = seenById.find(id);
        const auto found = inSeen == seenById.end() ? freshByIdentity.end()
                                                    : freshByIdentity.find(seenRanked[inSeen->second]);
        if (found == freshByIdentity.end()) {
            *missing = inSeen == seenById.end() ? "problem " + std::to_string(id)
                                                : DescribeProblem(seen.entries[inSeen->second]);
            freshIds->clear();
            return false;
        }
        freshIds->push_back(found->second);
    }
    return true;
}

std::vector<std::string> KeyPathsOf(const Report& report, const std::vector<int>& ids) {
    const std::set<int> wanted(ids.begin(), ids.end());
    std::vector<std::string> paths;
    for (const Members& entry : report.entries) {
        if (wanted.count(std::stoi(Member(entry, "id"))) != 0)
            paths.push_back(Member(entry, "key path"));
    }
    return paths;
}

std::string FixRequest(const std::vector<int>& ids) {
    std::string request = "{";
    for (size_t i = 0; i < ids.size(); ++i)
        request += (i ? ", \"" : "\"") + std::to_string(ids[i]) + "\": \"fix\"";
    return request + "}";
}

std::string DescribeProblem(const Members& problem) {
    std::string text = "problem " + Member(problem, "id") + " (" + Member(problem, "key path");
    const std::string valueName = Member(problem, "value name");
    if (!valueName.empty())
        text += ", value \"" + valueName + "\"";
    return text + ")";
}

} // namespace host
