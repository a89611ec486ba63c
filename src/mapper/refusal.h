#pragma once

// Recording why a junction call refuses (see VelaRefusal.h).

#include <VelaRefusal.h>

namespace vela {

// Clears this thread's record; every junction call starts with it.
void ClearRefusal();

// Records the reason on this thread and returns false, so that a guard reads
// `if (...) return Refuse(Refusal::X);`.
bool Refuse(Refusal reason, int runner = -1, int otherRunner = -1);

}  // namespace vela
