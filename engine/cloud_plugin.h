/**
 * @file cloud_plugin.h
 * @brief The interface between a host application and a Hivemender plug-in.
 *
 * A host loads the plug-in library, calls its one export, GetPluginEngine(),
 * stores its result callback in the returned object, and drives the engine
 * through the four slots of ICloudPlugin. Everything that crosses this
 * boundary is a plain C type: pointers to NUL-terminated UTF-16 text, a BSTR,
 * integers and HRESULTs. No C++ library type and no exception ever crosses it.
 *
 * All calls except the result callback come from one host thread. The result
 * callback is called on the engine's worker thread.
 */
#pragma once

#include <windows.h>

/**
 * @brief Receives one JSON report of a scan or a fix.
 *
 * @param report NUL-terminated UTF-16 text, valid only for the duration of the
 *               call; the host copies whatever it wants to keep.
 *
 * Called on the engine's worker thread.
 */
typedef void(__stdcall* CloudPluginResultFn)(const WCHAR* report);

/**
 * @brief The engine object a plug-in hands out.
 *
 * The slots are laid out COM-style: the object begins with a pointer to a
 * table of four __stdcall functions in exactly this order, followed by the
 * public member m_pfnResult. There is no virtual destructor: the host ends
 * the object's life with Destroy(), never with delete.
 */
struct ICloudPlugin {
    /**
     * @brief The plug-in's display name.
     * @return A new BSTR that the host owns and frees with SysFreeString, or
     *         null when it cannot be built.
     */
    virtual BSTR __stdcall GetDisplayName() = 0;

    /**
     * @brief Starts a scan (mode 0) or a fix (mode 1) on a new worker thread.
     *
     * @param mode    0 to scan, 1 to fix the problems the request selects.
     * @param request NUL-terminated UTF-16 JSON text; the engine copies what
     *                it needs before returning.
     * @return S_OK when the worker started; 0x80070501 when a worker is
     *         already running (nothing else changes); E_INVALIDARG for any
     *         other mode; HRESULT_FROM_WIN32 of the error when no thread could
     *         be created. Results arrive later through m_pfnResult.
     */
    virtual HRESULT __stdcall Start(int mode, const WCHAR* request) = 0;

    /**
     * @brief Asks the worker to stop, waits up to two seconds, and terminates
     *        it if it has not ended by then.
     * @return S_OK when a worker was stopped, S_FALSE when none was running.
     */
    virtual HRESULT __stdcall Stop() = 0;

    /**
     * @brief Stops any worker and frees the object. The pointer is invalid
     *        afterwards.
     */
    virtual void __stdcall Destroy() = 0;

    /**
     * @brief The host's result callback; null drops every report.
     *
     * Written by the host after GetPluginEngine() returns and before Start();
     * the engine only reads it.
     */
    CloudPluginResultFn m_pfnResult = nullptr;

protected:
    ~ICloudPlugin() = default;
};

/** @brief Signature of GetPluginEngine, for hosts that look it up at run time. */
typedef ICloudPlugin* (*GetPluginEngineFn)(void);

/**
 * @brief Creates a new, idle engine.
 *
 * Exported undecorated as "GetPluginEngine". Each call returns an independent
 * engine with its own state; engines of one process may scan at the same time.
 *
 * @return The engine, or null when it could not be allocated.
 */
extern "C" ICloudPlugin* GetPluginEngine(void);
