// Kernel handle table of the stand-in: threads, files, find searches and
// tokens all live behind HANDLE values taken from one table.
//
// Like Windows, a closed handle's value is handed out again by the next
// handle created, so a stale copy silently names something else; the engine
// must have exactly one closer per handle, and tests can observe misuse.
#pragma once

#include <windows.h>

#include <memory>

namespace win32sim::detail {

class KernelObject {
public:
    virtual ~KernelObject() = default;
};

// Stores the object and returns its new handle value (never null, never
// INVALID_HANDLE_VALUE). The smallest free value is reused first.
HANDLE InsertHandle(std::shared_ptr<KernelObject> object);

// The object behind a handle, or null if the value is not open.
std::shared_ptr<KernelObject> LookupHandle(HANDLE handle);

template <class T> std::shared_ptr<T> LookupHandleAs(HANDLE handle) {
    return std::dynamic_pointer_cast<T>(LookupHandle(handle));
}

// Removes the handle. False (and ERROR_INVALID_HANDLE) if it was not open.
bool RemoveHandle(HANDLE handle);

} // namespace win32sim::detail
