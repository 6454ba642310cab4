// The undo file's promise on registries nobody wrote by hand: random trees
// (names with "]", ";", "=", quotes, backslashes in value names, blanks at
// either end, non-ASCII; every value type; nested and empty keys), random
// key, value and rewrite problems, every one fixed, the undo file imported,
// and the tree must be what it was, byte for byte. Every other tree lies in
// the classes, its problems named through either of the classes' two names
// and some named twice. On the simulated machine each tree is then fixed
// again with a write of the undo writer failing (once, or from then on as
// after a kill), at a random step: the file must still give the tree back.
// Each tree also holds an excluded key (named through either classes name)
// below a key reported for deletion, with problems inside it: none of them
// is repaired, and nothing in the excluded subtree changes.
// HM_UNDO_SEEDS sets how many trees (default 12); a failure names its seed,
// and HM_UNDO_SEED=N replays that one alone.
#include "scan/exclusion_list.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#ifndef _WIN32
#include <win32sim/machine.h>
#endif

namespace {

using hmtest::FixTest;

class RandomTree {
public:
    explicit RandomTree(unsigned seed) : m_random(seed) {}

    // Builds the tree below `root` and lists the problems to fix in it; with
    // `alias` (another name of `root`), some problems use it.
    // `excluded` gets the excluded key, as an exclusion line names it, and
    // `refused` how many problems must not be repaired.
    ProblemList Build(hmtest::MachineBuilder& machine, const std::string& root,
                      const std::string& alias, std::string* excluded, size_t* refused) {
        AddKey(machine, root, 0);
        const std::string holder = root + "\\HmHolder";
        AddKey(machine, holder, 2);
        Report(hmtest::KeyProblem(holder), true);
        m_excludedKey = holder + "\\HmKept";
        AddKey(machine, m_excludedKey, 1);
        *excluded = Renamed(m_excludedKey, root, alias);
        ProblemList named;
        *refused = 0;
        for (size_t i = 0; i < m_problems.size(); ++i) {
            ProblemRecord problem = m_problems[i];
            problem.keyPath = Renamed(problem.keyPath, root, alias);
            named.push_back(problem);
            if (!alias.empty() && Chance(30)) { // again, which must change nothing more
                named.push_back(problem);
                if (!problem.newValue.empty())
                    named.back().newValue += "-again";
                *refused += m_refused[i];
            }
            *refused += m_refused[i];
        }
        return named;
    }

    int Below(int limit) { return std::uniform_int_distribution<int>(0, limit - 1)(m_random); }

private:
    bool Chance(int percent) { return Below(100) < percent; }

    std::string Renamed(const std::string& path, const std::string& root, const std::string& alias) {
        return alias.empty() || !Chance(50) ? path : alias + path.substr(root.size());
    }

    // Every problem inside the excluded key is refused, as is the delete of
    // a key above it.
    void Report(ProblemRecord problem, bool refused = false) {
        refused = refused || (!m_excludedKey.empty() && problem.keyPath.rfind(m_excludedKey, 0) == 0);
        m_problems.push_back(std::move(problem));
        m_refused.push_back(refused);
    }

    std::string Name(bool isKey) {
        static const std::string pool = "abcXYZ09 ]];;==\"\xe9\xc9\x80_-.{}";
        std::string name;
        const int length = 1 + Below(10);
        for (int i = 0; i < length; ++i)
            name += pool[static_cast<size_t>(Below(static_cast<int>(pool.size())))];
        if (!isKey && Chance(10))
            name += '\\';
        if (Chance(15))
            name = " " + name + " ";
        return name + std::to_string(m_unique++);
    }

    std::vector<BYTE> Bytes(int maximum) {
        std::vector<BYTE> bytes(static_cast<size_t>(Below(maximum + 1)));
        for (BYTE& byte : bytes)
            byte = static_cast<BYTE>(Below(256));
        return bytes;
    }

    std::vector<BYTE> Text(DWORD type) {
        std::string text = Name(false);
        if (Chance(20))
            text += ";C:\\gone\\" + Name(false) + ".dll";
        std::vector<BYTE> bytes(text.begin(), text.end());
        if (Chance(80))
            bytes.push_back(0);
        if (type == REG_MULTI_SZ)
            bytes.push_back(0);
        return bytes;
    }

    void AddValue(hmtest::MachineBuilder& machine, const std::string& key) {
        static const DWORD kTypes[] = {REG_SZ,    REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY,
                                       REG_DWORD, REG_QWORD,     REG_NONE,     0x20000};
        const DWORD type = kTypes[Below(8)];
        const std::string name = Chance(10) ? "" : Name(false);
        const bool isText = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
        const std::vector<BYTE> data = isText                            ? Text(type)
                                       : type == REG_DWORD && Chance(80) ? Bytes(4)
                                                                         : Bytes(24);
        machine.Value(key, name, type, data);
        if (Chance(25))
            Report(hmtest::ValueProblem(key, name));
        else if ((type == REG_SZ || type == REG_EXPAND_SZ) && Chance(25))
            Report(hmtest::ValueProblem(key, name, "C:\\kept\\" + Name(false)));
    }

    void AddKey(hmtest::MachineBuilder& machine, const std::string& key, int depth) {
        machine.Key(key);
        const int values = Chance(30) ? 0 : Below(5);
        for (int i = 0; i < values; ++i)
            AddValue(machine, key);
        const int children = depth >= 3 ? 0 : Below(4);
        for (int i = 0; i < children; ++i) {
            const std::string child = key + "\\" + Name(true);
            AddKey(machine, child, depth + 1);
            if (Chance(20))
                Report(hmtest::KeyProblem(child));
        }
    }

    std::mt19937 m_random;
    ProblemList m_problems;
    std::vector<bool> m_refused;
    std::string m_excludedKey;
    int m_unique = 0;
};

std::vector<unsigned> Seeds() {
    if (const char* one = std::getenv("HM_UNDO_SEED"))
        return {static_cast<unsigned>(std::strtoul(one, nullptr, 10))};
    const char* count = std::getenv("HM_UNDO_SEEDS");
    std::vector<unsigned> seeds(count ? std::strtoul(count, nullptr, 10) : 12);
    for (size_t i = 0; i < seeds.size(); ++i)
        seeds[i] = static_cast<unsigned>(1000 + i);
    return seeds;
}

class UndoPropertyTest : public FixTest {
protected:
    // Builds tree `seed`, fixes all of it and imports the undo file: the tree
    // must be as it was. Returns how many writes the undo writer made.
    unsigned long FixAndUndo(unsigned seed, unsigned long faultAt, bool everyAfter) {
        const bool inClasses = seed % 2 == 1;
        const std::string name = "HmUndoTree" + std::to_string(seed);
        const std::string root =
            inClasses ? "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\" + name : Root(name);
        hmtest::MachineBuilder machine;
        std::string excluded;
        size_t refused = 0;
        ProblemList problems = RandomTree(seed).Build(
            machine, root, inClasses ? "HKEY_CLASSES_ROOT\\" + name : "", &excluded, &refused);
        machine.Build();
        if (HasFatalFailure() || IsSkipped())
            return 0;
        const hmtest::RoundTrip trip({root, excluded});

        CEngineState engine;
        engine.m_problems = std::move(problems);
        AddExclusionLine(engine, excluded);
#ifndef _WIN32
        win32sim::SetFileWriteFault({faultAt, everyAfter, 112});
#endif
        const std::string report = trip.FixAll(engine);
#ifndef _WIN32
        const unsigned long writes = win32sim::FileWritesCounted();
        win32sim::SetFileWriteFault({});
#else
        const unsigned long writes = 0; // no faults to inject on Windows
        (void)everyAfter;
#endif
        if (faultAt == 0) {
            EXPECT_EQ(refused, hmtest::Refusals(report)) << report;
        }
        EXPECT_EQ(trip.Before(1), hmtest::SnapshotTree(excluded)) << "the excluded " << excluded;
        const std::set<std::string> fresh = trip.NewUndoFiles();
        EXPECT_TRUE(faultAt != 0 || !fresh.empty()) << "no undo file";
        trip.ExpectRestoredBy(fresh.empty() ? "" : *fresh.begin());
        return writes;
    }
};

TEST_F(UndoPropertyTest, RandomTreesComeBackByteForByte) {
    for (unsigned seed : Seeds()) {
        SCOPED_TRACE("seed " + std::to_string(seed) +
                     " (replay: HM_UNDO_SEED=" + std::to_string(seed) + ")");
        const unsigned long writes = FixAndUndo(seed, 0, false);
        if (HasFailure() || IsSkipped())
            return;
        if (!hmtest::RunningOnStandIn() || writes == 0)
            continue;
        RandomTree pick(seed * 7919u);
        const unsigned long faultAt = 1 + static_cast<unsigned long>(pick.Below(static_cast<int>(writes)));
        const bool everyAfter = pick.Below(2) == 1;
        SCOPED_TRACE((everyAfter ? "failing from write " : "failing write ") + std::to_string(faultAt));
        FixAndUndo(seed, faultAt, everyAfter);
        if (HasFailure())
            return;
    }
}

} // namespace
