// One finding of a scan, the list of them, and the numbered registry areas
// (sections) a scan covers.
#pragma once

#include <string>
#include <vector>

// Section numbers are also the bit numbers of the engine's section mask and
// are reported to the host as "section".
enum SectionId : int {
    SectionUserSoftware = 0,
    SectionMachineSoftware = 1,
    SectionClasses = 2,
    SectionFonts = 3,
    SectionStartup = 4,
    SectionSoundEvents = 5,
    SectionUninstall = 6,
    SectionServices = 7,
    SectionAppPaths = 8,
    SectionSharedDlls = 9,
    SectionHelpFiles = 10,
};

enum ProblemKind : int {
    ProblemDeleteKey = 0,
    ProblemDeleteValue = 1,
    ProblemReplaceValue = 2,
};

struct ProblemRecord {
    std::string id; // lower-cased identity: key path + "\" [+ value name]
    int section = 0;
    std::string keyPath;
    std::string valueName;
    std::string newValue;
    // The registry type newValue is written with: the rewritten value's own.
    unsigned long newValueType = 1; // REG_SZ
    int kind = ProblemDeleteKey;
};

using ProblemList = std::vector<ProblemRecord>;
