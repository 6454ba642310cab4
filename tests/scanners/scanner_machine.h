// What the scanner tests share: a fresh engine on a freshly built machine,
// and the records a scanner left below one key.
#pragma once

#include "scan/engine_state.h"
#include "fileref/file_probe.h"
#include "registry/reg_key.h"
#include "scan/scan_driver.h"
#include "scanners/section_table.h"
#include "support/conformance.h"
#include "support/machine_builder.h"
#include "tests/fileref/fileref_machine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hmtest {

struct Finding {
    int section;
    std::string keyPath;
    std::string valueName;
    std::string newValue;
    int kind;
    bool operator==(const Finding&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Finding& f) {
    return out << "{" << f.section << ", " << f.keyPath << ", '" << f.valueName << "', '"
               << f.newValue << "', kind " << f.kind << "}";
}

// Findings below `keyPrefix` only: under Wine the prefix's own registry may
// hold broken references of its own.
inline std::vector<Finding> FindingsUnder(const CEngineState& engine,
                                          const std::string& keyPrefix) {
    std::vector<Finding> findings;
    for (const ProblemRecord& r : engine.m_problems) {
        if (r.keyPath.rfind(keyPrefix, 0) == 0)
            findings.push_back({r.section, r.keyPath, r.valueName, r.newValue, r.kind});
    }
    return findings;
}

} // namespace hmtest
