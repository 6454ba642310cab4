#include "scan/scan_driver.h"

#include "engine/hivemender.h"

void RunScan(CHivemender&) {
    // No section has a scanner yet.
}
