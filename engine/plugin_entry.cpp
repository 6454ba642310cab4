// The plug-in's one export.
#include "engine/hivemender.h"

#include <new>

extern "C" ICloudPlugin* GetPluginEngine(void) {
    try {
        return new CHivemender();
    } catch (...) {
        // Out of memory: the host gets null, nothing crosses the boundary.
        return nullptr;
    }
}
