#pragma once

// Recording why a junction call refuses (see VelaRefusal.h).

#include <VelaRefusal.h>

#include <optional>

namespace vela {

// Clears this thread's record; every junction call starts with it.
void ClearRefusal();

// Records the reason on this thread and returns false, so that a guard reads
// `if (...) return Refuse(Refusal::X);`.
bool Refuse(Refusal reason, int runner = -1, int otherRunner = -1);

// The same for a step that answers with an optional:
// `if (...) return Refused(Refusal::X);`.
inline std::nullopt_t Refused(Refusal reason, int runner = -1, int otherRunner = -1) {
  Refuse(reason, runner, otherRunner);
  return std::nullopt;
}

}  // namespace vela
