// The scan driver: runs the enabled section scanners on the worker thread.
#pragma once

class CHivemender;

// Resets the engine's scan state, runs every enabled scanner in section
// order until a stop is requested, then orders the problem list.
void RunScan(CHivemender& engine);
