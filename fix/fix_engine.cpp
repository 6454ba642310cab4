#include "fix/fix_engine.h"

#include "engine/hivemender.h"

void RunFix(CHivemender&) {
    // Nothing can be repaired yet.
}
