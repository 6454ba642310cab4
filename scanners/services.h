// Installed services and drivers whose image file is gone. The section is
// switched off in the engine's section mask; where it runs, it only counts
// what it finds (m_nServiceProblems) and records nothing, so it changes no
// report.
#pragma once

#include <span>
#include <string>

struct CEngineState;
class RegKey;

// Every service below HKEY_LOCAL_MACHINE\SYSTEM\CurrentControlSet\Services.
void ScanServices(CEngineState& engine);

// One open service key. 1 when it is excluded, else 0.
int ScanServiceEntry(CEngineState& engine, RegKey& service);

// Where drivers named by bare file name are loaded from: the system folder,
// its "Drivers" folder and the Windows folder's "System", in byte order.
std::span<const std::string> DriverDirectories();
