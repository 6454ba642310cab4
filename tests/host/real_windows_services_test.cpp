// The services of the real-Windows corpus (tests/e2e/real-windows), whose
// section the default scan leaves off: every image path Windows and the
// programs there write is found, and only the two broken twins count.
#include "machine/machine_folder.h"
#include "scanners/services.h"
#include "tests/scanners/scanner_machine.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(RealWindowsCorpusTest, OnlyTheBrokenServicesCount) {
    std::string error;
    ASSERT_TRUE(win32sim::LoadMachine(HM_REAL_WINDOWS_CORPUS, &error)) << error;
    ForgetFileSearchTables();
    CEngineState engine(SectionScanTable());
    ScanServices(engine);
    // ContosoChartSvc (its program folder is gone) and contosoflt (its driver is gone).
    EXPECT_EQ(2, engine.m_nServiceProblems);
}

} // namespace
