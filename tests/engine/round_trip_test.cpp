// Scan, fix and undo together: a scan finds what a machine holds broken,
// fixing all of it leaves a second scan none of it, and importing the undo
// file gives the registry back byte for byte. On two machines: the seven
// smaller sections' tables of cases (tests/scanners/section_cases.h), and a
// classes root of a few hundred healthy registrations with a dozen broken
// ones (some under names that .reg and profile text treat specially).
#include "fileref/file_probe.h"
#include "scan/scan_driver.h"
#include "scanners/section_table.h"
#include "support/machine_builder.h"
#include "tests/fix/fix_test_support.h"
#include "tests/scanners/section_cases.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

using hmtest::FixTest;

const std::string kRoot = "HKEY_CLASSES_ROOT\\";
const std::string kDll = "C:\\HmClasses\\server.dll";

std::string Id(const char* kind, int n) {
    char text[64];
    std::snprintf(text, sizeof(text), "{%s%04X-0000-4000-8000-00000000AB00}", kind, n);
    return text;
}

// Healthy registrations that point at each other, as an installer leaves them.
void PlantHealthyClasses(hmtest::MachineBuilder& m) {
    m.File(kDll).File("C:\\HmClasses\\app.exe").File("C:\\HmClasses\\lib.tlb");
    for (int n = 0; n < 300; ++n) {
        const std::string clsid = kRoot + "CLSID\\" + Id("C1A5", n);
        m.String(clsid, "", "Hm class " + std::to_string(n))
            .String(clsid + "\\InProcServer32", "", kDll)
            .String(clsid + "\\InProcServer32", "ThreadingModel", "Both");
    }
    for (int n = 0; n < 120; ++n) {
        const std::string lib = kRoot + "TypeLib\\" + Id("71B0", n) + "\\1.0";
        m.String(lib + "\\0\\win32", "", "C:\\HmClasses\\lib.tlb").String(lib + "\\FLAGS", "", "0");
        const std::string iface = kRoot + "Interface\\" + Id("1F0C", n);
        m.String(iface, "", "IHm" + std::to_string(n))
            .String(iface + "\\ProxyStubClsid32", "", Id("C1A5", n))
            .String(iface + "\\TypeLib", "", Id("71B0", n));
    }
    for (int n = 0; n < 150; ++n) {
        const std::string progId = "HmClasses.Doc" + std::to_string(n);
        m.String(kRoot + ".hmc" + std::to_string(n), "", progId)
            .String(kRoot + progId + "\\shell\\open\\command", "", "C:\\HmClasses\\app.exe \"%1\"")
            .String(kRoot + progId + "\\CLSID", "", Id("C1A5", n));
    }
}

// A dozen broken registrations, each broken in its own way.
void PlantBrokenClasses(hmtest::MachineBuilder& m) {
    const std::string odd = kRoot + "HmOdd]Type;a=b ";
    m.String(kRoot + ".hmodd", "", "HmOdd]Type;a=b ")
        .String(odd + "\\DefaultIcon", "", "C:\\HmClasses\\gone.dll,2")
        .String(odd + "\\shell\\ open]verb\\command", "", "C:\\HmClasses\\gone.exe")
        .Key(odd + "\\shell\\ open]verb\\ddeexec ; x")
        .Key(odd + "\\ShellNew")
        .Key(kRoot + ".hm]empty ")
        .Key(kRoot + ".hm;empty=x")
        .Dword(kRoot + "CLSID\\ " + Id("BAD0", 1) + " ", "Flags;=", 7)
        .String(kRoot + "CLSID\\" + Id("BAD0", 2) + "\\InProcServer32", "",
                "C:\\HmClasses\\gone.dll")
        .String(kRoot + "CLSID\\" + Id("BAD0", 2) + "\\InProcServer32", "ThreadingModel",
                "Apartment")
        .String(kRoot + "CLSID\\" + Id("BAD0", 3) + "\\LocalServer32", "", "")
        .String(kRoot + "CLSID\\" + Id("BAD0", 4), "AppID", Id("AAAA", 1))
        .String(kRoot + "CLSID\\" + Id("BAD0", 4) + "\\InProcServer32", "", kDll)
        .String(kRoot + "TypeLib\\" + Id("BAD0", 5) + "\\1.0\\0\\win32", "",
                "C:\\HmClasses\\gone.tlb")
        .String(kRoot + "TypeLib\\" + Id("BAD0", 6) + "\\2.0\\HELPDIR", "", "")
        .Key(kRoot + "Interface\\" + Id("BAD0", 7) + "=]")
        .String(kRoot + "Interface\\" + Id("BAD0", 8) + "\\BaseInterface", "", Id("BAD0", 99))
        .String(kRoot + "HmClasses.Doc0\\ShellNew", "FileName", "hm-nowhere.doc");
}

class ScanFixUndoTest : public FixTest {
protected:
    // Scans, expecting `found` problems; fixes them all, none refused; scans
    // again, leaving that scan's list in `engine`; imports the undo file and
    // expects `trees` as they were. Returns the first scan's list.
    ProblemList FixAllFound(CEngineState& engine, size_t found,
                            const std::vector<std::string>& trees) {
        RunScan(engine, engine.m_sectionScanners);
        EXPECT_EQ(found, engine.m_problems.size());
        const ProblemList fixed = engine.m_problems;
        const hmtest::RoundTrip trip(trees);
        const std::string report = trip.FixAll(engine);
        EXPECT_EQ(0u, hmtest::Refusals(report)) << report;
        const std::string undoFile = trip.UndoFile();
        RunScan(engine, engine.m_sectionScanners);
        trip.ExpectRestoredBy(undoFile);
        return fixed;
    }
};

TEST_F(ScanFixUndoTest, EverySmallerSectionIsFoundFixedAndRestored) {
    hmtest::MachineBuilder machine;
    const auto tables = hmtest::SectionTables("HKEY_USERS\\" + machine.CurrentUserSid() +
                                              "\\AppEvents\\Schemes\\Apps\\HmApp");
    hmtest::PlantSectionGround(machine);
    size_t broken = 0;
    for (const hmtest::SectionTable& table : tables) {
        hmtest::PlantSectionTable(machine, table);
        broken += hmtest::ExpectedFindings(table).size();
    }
    machine.Build();
    ForgetFileSearchTables();
    ASSERT_FALSE(HasFatalFailure());
    CEngineState engine(SectionScanTable());
    engine.m_dwSectionMask |= 1u << SectionServices;
    // Which ones: tests/scanners/sections_test.cpp.
    FixAllFound(engine, broken, {"HKEY_LOCAL_MACHINE", "HKEY_USERS"});
    EXPECT_EQ(std::vector<hmtest::SectionFinding>{}, hmtest::SortedFindings(engine));
}

TEST_F(ScanFixUndoTest, EveryClassProblemIsFoundFixedAndRestored) {
    hmtest::MachineBuilder machine;
    PlantHealthyClasses(machine);
    PlantBrokenClasses(machine);
    RETURN_UNLESS_BUILT(machine);
    CEngineState engine(SectionScanTable());
    engine.m_dwSectionMask = 1u << SectionClasses;
    // .hmodd's DefaultIcon, verb and ShellNew; two empty extensions; four
    // classes (no content, a missing library, an empty server, an unknown
    // AppID); two libraries (a missing file, no usable version); two
    // interfaces; a missing template.
    const ProblemList fixed = FixAllFound(engine, 14, {"HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"});
    // A repair may uncover the next level (a class whose only server was
    // deleted is now empty), but none of the repaired problems remains.
    for (const ProblemRecord& again : engine.m_problems) {
        for (const ProblemRecord& first : fixed)
            EXPECT_NE(first.id, again.id);
    }
}

} // namespace
