#include "handles.h"

#include <mutex>
#include <vector>

namespace win32sim::detail {
namespace {

// Values are multiples of 4 starting at 4, as on Windows.
constexpr uintptr_t kHandleStep = 4;

std::mutex g_mutex;
std::vector<std::shared_ptr<KernelObject>> g_slots; // slot i holds handle (i + 1) * 4

HANDLE ValueOfSlot(size_t slot) { return reinterpret_cast<HANDLE>((slot + 1) * kHandleStep); }

bool SlotOfValue(HANDLE handle, size_t* slot) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value % kHandleStep != 0)
        return false;
    *slot = value / kHandleStep - 1;
    return true;
}

} // namespace

HANDLE InsertHandle(std::shared_ptr<KernelObject> object) {
    std::lock_guard lock(g_mutex);
    for (size_t i = 0; i < g_slots.size(); ++i) {
        if (!g_slots[i]) {
            g_slots[i] = std::move(object);
            return ValueOfSlot(i);
        }
    }
    g_slots.push_back(std::move(object));
    return ValueOfSlot(g_slots.size() - 1);
}

std::shared_ptr<KernelObject> LookupHandle(HANDLE handle) {
    std::lock_guard lock(g_mutex);
    size_t slot;
    if (!SlotOfValue(handle, &slot) || slot >= g_slots.size())
        return nullptr;
    return g_slots[slot];
}

bool RemoveHandle(HANDLE handle) {
    std::shared_ptr<KernelObject> doomed; // destroyed outside the lock
    {
        std::lock_guard lock(g_mutex);
        size_t slot;
        if (!SlotOfValue(handle, &slot) || slot >= g_slots.size() || !g_slots[slot]) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        doomed = std::move(g_slots[slot]);
    }
    return true;
}

} // namespace win32sim::detail
