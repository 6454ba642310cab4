// The classes-root scanner on small simulated machines: which broken class
// registrations it reports, as which key or value, and which it leaves.
#include "scanners/classes_root.h"

#include "base/text.h"
#include "scan/exclusion_list.h"
#include "scanner_machine.h"
#include "scanners/section_table.h"
#include "scanners/type_libraries.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using hmtest::MachineBuilder;

const std::string kRoot = "HKEY_CLASSES_ROOT\\";
// Registered classes the cases point at.
const std::string kGoodClsid = "{HM000000-0000-0000-0000-000000000001}";
const std::string kWowOnlyClsid = "{HM000000-0000-0000-0000-000000000002}";
const std::string kShellViewClsid = "{HM000000-0000-0000-0000-000000000003}";
const std::string kMissingClsid = "{HM000000-0000-0000-0000-0000000000FF}";

// A finding below the classes root: its path after "HKEY_CLASSES_ROOT\" and,
// for a value problem, the value's name.
struct ClassFinding {
    std::string path;
    std::string valueName;
    bool operator==(const ClassFinding&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ClassFinding& f) {
    return out << "{" << f.path << ", '" << f.valueName << "'}";
}

void AddCommonClasses(MachineBuilder& machine) {
    machine.File("C:\\HmApp\\app.exe")
        .File("C:\\HmApp\\app.dll")
        .String(kRoot + "CLSID\\" + kGoodClsid + "\\InProcServer32", "", "C:\\HmApp\\app.dll")
        .String(kRoot + "Wow6432Node\\CLSID\\" + kWowOnlyClsid + "\\InProcServer32", "",
                "C:\\HmApp\\app.dll")
        .Key("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\ExtShellViews\\" +
             kShellViewClsid);
}

// The findings of a whole classes scan that a test made (every name a test
// makes holds "hm"), in the report's order.
std::vector<ClassFinding> ScanClasses(CEngineState& engine) {
    ScanClassesRoot(engine);
    OrderProblems(engine);
    std::vector<ClassFinding> ours;
    for (const ProblemRecord& r : engine.m_problems) {
        EXPECT_EQ(SectionClasses, r.section) << r.keyPath;
        if (base::ToLowerMb(r.keyPath).find("hm") != std::string::npos &&
            r.keyPath.rfind(kRoot, 0) == 0)
            ours.push_back({r.keyPath.substr(kRoot.size()), r.valueName});
    }
    return ours;
}

struct Case {
    const char* what;
    std::function<void(MachineBuilder&)> plant;
    std::vector<ClassFinding> expected;
    std::vector<std::string> excluded = {}; // key paths below the root
};

void RunCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder machine;
        AddCommonClasses(machine);
        c.plant(machine);
        BUILD_OR_RETURN(machine);
        CEngineState engine(SectionScanTable());
        for (const std::string& path : c.excluded)
            AddExclusionLine(engine, kRoot + path);
        EXPECT_EQ(c.expected, ScanClasses(engine));
    }
}

const std::string kType = "HmDoc.File";
const std::string kTypeKey = kRoot + kType;

TEST(ClassesRootTest, IconsVerbsAndHandlersOfAFileType) {
    const std::string shell = kTypeKey + "\\shell";
    RunCases({
        {"an icon in a missing library, with an icon index",
         [&](MachineBuilder& m) {
             m.String(kRoot + ".hmdoc", "", kType)
                 .String(kTypeKey + "\\DefaultIcon", "", "C:\\HmApp\\gone.dll,3")
                 .String(kRoot + ".hmok\\DefaultIcon", "", "\"C:\\HmApp\\app.exe\",0");
         },
         {{kType + "\\DefaultIcon", ""}}},
        {"a Shell key without verbs",
         [&](MachineBuilder& m) { m.String(kRoot + ".hmdoc", "", kType).Key(shell); },
         {{kType + "\\Shell", ""}}},
        {"verbs: no command, an excluded command, delegated, a short path, a good one, DDE",
         [&](MachineBuilder& m) {
             m.String(kRoot + ".hmdoc", "", kType)
                 .Key(shell + "\\hmbare")
                 .String(shell + "\\hmdde\\ddeexec", "", "[ViewFolder(%l, %I, %S)]")
                 .String(shell + "\\hmexcluded\\command", "", "C:\\HmApp\\app.exe")
                 .String(shell + "\\hmdelegated\\command", "", "C:\\HmApp\\gone.exe %1")
                 .String(shell + "\\hmdelegated\\command", "DelegateExecute", kGoodClsid)
                 .String(shell + "\\hmdelegatedgone\\command", "DelegateExecute", kMissingClsid)
                 .String(shell + "\\hmshort\\command", "", "ab /x")
                 .String(shell + "\\hmgone\\command", "", "\"C:\\HmApp\\gone.exe\" \"%1\"")
                 .String(shell + "\\hmopen\\command", "", "\"C:\\HmApp\\app.exe\" \"%1\"");
         },
         {{kType + "\\Shell\\hmbare", ""},
          {kType + "\\Shell\\hmdelegatedgone", ""},
          {kType + "\\Shell\\hmexcluded", ""},
          {kType + "\\Shell\\hmgone", ""}},
         {kType + "\\Shell\\hmexcluded\\command"}},
        {"ShellEx leaves by name, by value, unregistered, shell views, not braced",
         [&](MachineBuilder& m) {
             const std::string ex = kTypeKey + "\\ShellEx";
             m.String(kRoot + ".hmdoc", "", kType)
                 .Key(ex + "\\ContextMenuHandlers\\" + kGoodClsid)
                 .Key(ex + "\\ContextMenuHandlers\\" + kMissingClsid)
                 .String(ex + "\\ContextMenuHandlers\\HmByValue", "", kWowOnlyClsid)
                 .String(ex + "\\ContextMenuHandlers\\HmGoneByValue", "", kMissingClsid)
                 .String(ex + "\\HmView", "", kShellViewClsid)
                 .String(ex + "\\HmNotBraced", "", "HmSomething");
         },
         {{kType + "\\ShellEx\\ContextMenuHandlers\\HmGoneByValue", ""},
          {kType + "\\ShellEx\\ContextMenuHandlers\\" + kMissingClsid, ""}}},
    });
}

TEST(ClassesRootTest, NewMenuTemplates) {
    const std::string shellNew = kRoot + ".hmdoc\\ShellNew";
    RunCases({
        {"no values", [&](MachineBuilder& m) { m.Key(shellNew); }, {{".hmdoc\\ShellNew", ""}}},
        {"another kind of template",
         [&](MachineBuilder& m) { m.String(shellNew, "NullFile", ""); },
         {}},
        {"templates in the Windows and the common templates folders",
         [&](MachineBuilder& m) {
             m.File("C:\\Windows\\ShellNew\\hm.doc")
                 .File("C:\\ProgramData\\Microsoft\\Windows\\Templates\\hm.txt")
                 .String(shellNew, "FileName", "hm.doc")
                 .String(kRoot + ".hmtxt\\ShellNew", "FileName", "hm.txt");
         },
         {}},
        {"a missing template, an empty one",
         [&](MachineBuilder& m) {
             m.String(shellNew, "FileName", "hmgone.doc")
                 .String(kRoot + ".hmempty\\ShellNew", "FileName", "");
         },
         {{".hmdoc\\ShellNew", "FileName"}, {".hmempty\\ShellNew", ""}}},
        {"a missing program that makes the new file",
         [&](MachineBuilder& m) {
             m.String(shellNew, "Commmand", "C:\\HmApp\\gone.exe /new")
                 .String(shellNew, "FileName", "hmgone.doc");
         },
         {{".hmdoc\\ShellNew", "Commmand"}}},
    });
}

TEST(ClassesRootTest, ComClasses) {
    const std::string clsid = kRoot + "CLSID\\";
    const std::string id = "{HM000000-0000-0000-0000-00000000C1A5}";
    RunCases({
        {"a symkey value in any case leaves the entry alone",
         [&](MachineBuilder& m) {
             m.String(clsid + id + "\\InProcServer32", "", "C:\\HmApp\\gone.dll")
                 .String(clsid + id, "HmSymKeyMark", "");
         },
         {}},
        {"no subkeys: a description, nothing, a registered AppID, an unknown one",
         [&](MachineBuilder& m) {
             m.String(clsid + "{HM0000A0-0000-0000-0000-000000000000}", "", "Hm description")
                 .Dword(clsid + "{HM0000A1-0000-0000-0000-000000000000}", "HmFlags", 1)
                 .Key(kRoot + "AppID\\{HM00AAAA-0000-0000-0000-000000000000}")
                 .String(clsid + "{HM0000A2-0000-0000-0000-000000000000}", "AppID",
                         "{HM00AAAA-0000-0000-0000-000000000000}")
                 .String(clsid + "{HM0000A3-0000-0000-0000-000000000000}", "AppID",
                         "{HM00BBBB-0000-0000-0000-000000000000}");
         },
         {{"CLSID\\{HM0000A1-0000-0000-0000-000000000000}", ""},
          {"CLSID\\{HM0000A3-0000-0000-0000-000000000000}", ""}}},
        {"an unknown AppID, TypeLib and ProgID of an entry with subkeys",
         [&](MachineBuilder& m) {
             m.String(clsid + id + "\\InProcServer32", "", "C:\\HmApp\\app.dll")
                 .String(clsid + id, "AppID", "{HM00BBBB-0000-0000-0000-000000000000}")
                 .String(clsid + id + "\\TypeLib", "", "{HM00CCCC-0000-0000-0000-000000000000}")
                 .String(clsid + id + "\\ProgID", "", "HmGone.Class.1");
         },
         {{"CLSID\\" + id, "AppID"},
          {"CLSID\\" + id + "\\ProgID", ""},
          {"CLSID\\" + id + "\\TypeLib", ""}}},
        {"servers: bare and full missing names, an empty default",
         [&](MachineBuilder& m) {
             m.String(clsid + "{HM0000B0-0000-0000-0000-000000000000}\\InProcServer32", "",
                      "hmgone.dll")
                 .String(clsid + "{HM0000B1-0000-0000-0000-000000000000}\\InProcServer32", "",
                         "C:\\HmApp\\gone.dll")
                 .String(clsid + "{HM0000B2-0000-0000-0000-000000000000}\\LocalServer32", "",
                         "hmgone.exe /automation")
                 .String(clsid + "{HM0000B3-0000-0000-0000-000000000000}\\InProcServer32", "", "");
         },
         {{"CLSID\\{HM0000B1-0000-0000-0000-000000000000}\\InProcServer32", ""},
          {"CLSID\\{HM0000B2-0000-0000-0000-000000000000}\\LocalServer32", ""},
          {"CLSID\\{HM0000B3-0000-0000-0000-000000000000}\\InProcServer32", ""}}},
    });
}

TEST(ClassesRootTest, ExtensionsAndTheirProgIds) {
    RunCases({
        {"a ProgID named by two extensions is checked once",
         [&](MachineBuilder& m) {
             m.String(kRoot + ".hma", "", kType)
                 .String(kRoot + ".hmb", "", kType)
                 .String(kTypeKey + "\\ShellNew", "FileName", "hmgone.doc");
         },
         {{kType + "\\ShellNew", "FileName"}}},
        {"an empty extension; one whose ProgID is gone; a ProgID naming an unknown class",
         [&](MachineBuilder& m) {
             m.Key(kRoot + ".hmempty")
                 .String(kRoot + ".hmorphan", "", "HmRemoved.File")
                 .String(kRoot + ".hmdoc", "", kType)
                 .String(kTypeKey + "\\CLSID", "", kMissingClsid);
         },
         {{".hmempty", ""}, {kType + "\\CLSID", ""}}},
        {"nothing below an excluded ProgID is reported",
         [&](MachineBuilder& m) {
             m.String(kRoot + ".hmdoc", "", kType).String(kTypeKey + "\\CLSID", "", kMissingClsid);
         },
         {},
         {kType}},
        {"a ProgID leading to the root or to a class area reports neither",
         [&](MachineBuilder& m) {
             m.String(kRoot + ".hmroot", "", "\\")
                 .String(kRoot + ".hmarea", "", "\\CLSID")
                 .String(kRoot + ".hmwow", "", "HmArea")
                 .String(kRoot + "HmArea\\CLSID\\" + kGoodClsid + "\\InProcServer32", "",
                         "C:\\HmApp\\app.dll");
         },
         {}},
        {"\"*\" and \"Folder\" are checked like any class",
         [&](MachineBuilder& m) {
             m.Key(kRoot + "*\\shellex\\ContextMenuHandlers\\HmGone")
                 .String(kRoot + "*\\shellex\\ContextMenuHandlers\\HmGone", "", kMissingClsid)
                 .String(kRoot + "Folder\\shell\\hmgone\\command", "", "C:\\HmApp\\gone.exe");
         },
         {{"*\\ShellEx\\ContextMenuHandlers\\HmGone", ""}, {"Folder\\Shell\\hmgone", ""}}},
    });
}

TEST(ClassesRootTest, TypeLibrariesAndInterfaces) {
    const std::string lib = kRoot + "TypeLib\\{HM00CCCC-0000-0000-0000-000000000000}";
    const std::string iface = kRoot + "Interface\\";
    RunCases({
        {"a missing Win32 file: only the platform key",
         [&](MachineBuilder& m) {
             m.String(lib + "\\1.0\\0\\win32", "", "C:\\HmApp\\gone.tlb")
                 .String(lib + "\\1.0\\FLAGS", "", "0")
                 .String(lib + "\\1.0\\HELPDIR", "", "C:\\HmApp");
         },
         {{"TypeLib\\{HM00CCCC-0000-0000-0000-000000000000}\\1.0\\0\\Win32", ""}}},
        {"versions with only FLAGS and HELPDIR, or nothing; an empty HELPDIR",
         [&](MachineBuilder& m) {
             m.String(lib + "\\1.0\\FLAGS", "", "0")
                 .String(lib + "\\1.0\\HELPDIR", "", "")
                 .Key(lib + "\\2.0");
         },
         {{"TypeLib\\{HM00CCCC-0000-0000-0000-000000000000}", ""}}},
        {"an excluded version is passed over, and the good one after it keeps the library",
         [&](MachineBuilder& m) {
             m.String(lib + "\\1.0\\0\\win32", "", "C:\\HmApp\\gone.tlb")
                 .String(lib + "\\2.0\\0\\win32", "", "C:\\HmApp\\app.dll");
         },
         {},
         {"TypeLib\\{HM00CCCC-0000-0000-0000-000000000000}\\1.0"}},
        {"interfaces: no subkeys, a 32-bit proxy, an empty TypeLib, unknown references",
         [&](MachineBuilder& m) {
             m.Key(iface + "{HM0000D0-0000-0000-0000-000000000000}")
                 .String(iface + "{HM0000D1-0000-0000-0000-000000000000}\\ProxyStubClsid32", "",
                         kWowOnlyClsid)
                 .String(iface + "{HM0000D2-0000-0000-0000-000000000000}\\TypeLib", "", "")
                 .String(iface + "{HM0000D3-0000-0000-0000-000000000000}\\BaseInterface", "",
                         "{HM0000D9-0000-0000-0000-000000000000}")
                 .String(iface + "{HM0000D3-0000-0000-0000-000000000000}\\ProxyStubClsid", "",
                         kMissingClsid);
         },
         {{"Interface\\{HM0000D0-0000-0000-0000-000000000000}", ""},
          {"Interface\\{HM0000D2-0000-0000-0000-000000000000}\\TypeLib", ""},
          {"Interface\\{HM0000D3-0000-0000-0000-000000000000}\\BaseInterface", ""},
          {"Interface\\{HM0000D3-0000-0000-0000-000000000000}\\ProxyStubCLSID", ""}}},
    });
}

TEST(ClassesRootTest, AStopInsideALibraryLeavesItWithoutAGoodVersion) {
    const std::string lib = kRoot + "TypeLib\\{HM00CCCC-0000-0000-0000-000000000000}";
    MachineBuilder machine;
    machine.File("C:\\HmApp\\app.tlb").String(lib + "\\1.0\\0\\win32", "", "C:\\HmApp\\app.tlb");
    BUILD_OR_RETURN(machine);
    CEngineState engine(SectionScanTable());
    RegKey library;
    ASSERT_EQ(ERROR_SUCCESS, library.OpenByText(lib, kRead64));
    engine.m_bStop = 1;
    ScanTypeLibEntry(engine, library);
    ASSERT_EQ(1u, engine.m_problems.size());
    EXPECT_EQ(lib, engine.m_problems[0].keyPath);
}

TEST(ClassesRootTest, OnlyAnAdministratorsScanRunsTheSection) {
    for (bool administrator : {false, true}) {
        SCOPED_TRACE(administrator ? "administrator" : "user");
        MachineBuilder machine;
        machine.Administrator(administrator).Key(kRoot + ".hmempty");
        BUILD_OR_RETURN(machine);
        CEngineState engine(SectionScanTable());
        engine.m_dwSectionMask = 1u << SectionClasses;
        RunScan(engine, SectionScanTable());
        EXPECT_EQ(administrator ? 1u : 0u, engine.m_problems.size());
    }
}

} // namespace
