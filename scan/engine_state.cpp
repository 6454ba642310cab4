#include "scan/engine_state.h"

namespace {

// Every key the table's scanners own, by section, in table order.
std::multimap<int, std::string> OwnedMachineKeys(std::span<const SectionScan> sections) {
    std::multimap<int, std::string> owned;
    for (const SectionScan& entry : sections) {
        for (const char* path : entry.ownedMachineKeys)
            owned.emplace(entry.section, path);
    }
    return owned;
}

} // namespace

CEngineState::CEngineState(std::span<const SectionScan> sections)
    : m_sectionScanners(sections), m_sectionPaths(OwnedMachineKeys(sections)) {}
