// The fix engine: repairs the problems a fix request selects.
#pragma once

class CHivemender;

// Repairs the entries of the last scan's problem list that the engine's
// request selects, and reports what it did.
void RunFix(CHivemender& engine);
