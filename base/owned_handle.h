// One owner template for every kind of handle the engine holds: kernel
// objects, registry keys, find searches and loaded modules.
//
// Each kind differs only in its empty value and its close function, so each
// is a small traits struct; the owner itself is written once. Closing never
// changes GetLastError: an owner often goes out of scope between a failing
// call and the caller reading its error code.
#pragma once

#include "base/debug_log.h"

#include <windows.h>

#include <utility>

namespace Orvel {

// Traits: Type, Empty(), Normalize(raw) (maps every "no handle" spelling to
// Empty()), Close(raw), OnOverwrite() (called when a handle is assigned to an
// owner that already holds one).
template <class Traits> class TOwnedHandle {
public:
    using Type = typename Traits::Type;

    TOwnedHandle() noexcept = default;
    explicit TOwnedHandle(Type raw) noexcept : m_h(Traits::Normalize(raw)) {}
    ~TOwnedHandle() { Close(); }

    TOwnedHandle(const TOwnedHandle&) = delete;
    TOwnedHandle& operator=(const TOwnedHandle&) = delete;
    TOwnedHandle(TOwnedHandle&& other) noexcept : m_h(other.Release()) {}
    TOwnedHandle& operator=(TOwnedHandle&& other) noexcept {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }

    // Takes ownership. Assigning over a held handle is a logic error of the
    // caller: it is reported, and the old handle is closed rather than leaked.
    TOwnedHandle& operator=(Type raw) noexcept {
        if (IsSet())
            Traits::OnOverwrite();
        Reset(raw);
        return *this;
    }

    Type Get() const noexcept { return m_h; }
    bool IsSet() const noexcept { return m_h != Traits::Empty(); }
    explicit operator bool() const noexcept { return IsSet(); }

    // Gives the handle up without closing it.
    Type Release() noexcept { return std::exchange(m_h, Traits::Empty()); }

    void Reset(Type raw = Traits::Empty()) noexcept {
        Type old = std::exchange(m_h, Traits::Normalize(raw));
        if (old != Traits::Empty() && old != m_h)
            CloseKeepingLastError(old);
    }

private:
    static void CloseKeepingLastError(Type raw) noexcept {
        const DWORD lastError = GetLastError();
        Traits::Close(raw);
        SetLastError(lastError);
    }
    void Close() noexcept { Reset(); }

    Type m_h = Traits::Empty();
};

struct NoOverwriteReport {
    static void OnOverwrite() noexcept {}
};

// Kernel objects (threads, files, tokens). Win32 spells "no handle" two ways:
// CreateFile fails with INVALID_HANDLE_VALUE, CreateThread with null. Both are
// stored as null, so a failed call can be assigned without a check.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Empty() noexcept { return nullptr; }
    static Type Normalize(Type raw) noexcept { return raw == INVALID_HANDLE_VALUE ? nullptr : raw; }
    static void Close(Type raw) noexcept { CloseHandle(raw); }
    static void OnOverwrite() noexcept {
        // %lu takes an unsigned long on every target; DWORD is narrower on Linux.
        Log(kLogFailedCheck, __FILE__, "Orvel::THandle<void *,0>::operator =", __LINE__,
            __TIMESTAMP__, "%s - %lu", "NULL == m_h", static_cast<unsigned long>(GetLastError()));
    }
};

struct FindHandleTraits : NoOverwriteReport {
    using Type = HANDLE;
    static Type Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static Type Normalize(Type raw) noexcept { return raw == nullptr ? INVALID_HANDLE_VALUE : raw; }
    static void Close(Type raw) noexcept { FindClose(raw); }
};

struct RegKeyHandleTraits : NoOverwriteReport {
    using Type = HKEY;
    static Type Empty() noexcept { return nullptr; }
    static Type Normalize(Type raw) noexcept { return raw; }
    static void Close(Type raw) noexcept { RegCloseKey(raw); }
};

struct ModuleHandleTraits : NoOverwriteReport {
    using Type = HMODULE;
    static Type Empty() noexcept { return nullptr; }
    static Type Normalize(Type raw) noexcept { return raw; }
    static void Close(Type raw) noexcept { FreeLibrary(raw); }
};

using THandle = TOwnedHandle<KernelHandleTraits>;
using TFindHandle = TOwnedHandle<FindHandleTraits>;
using TRegKeyHandle = TOwnedHandle<RegKeyHandleTraits>;
using TModuleHandle = TOwnedHandle<ModuleHandleTraits>;

} // namespace Orvel
