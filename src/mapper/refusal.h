#pragma once

// Recording why a junction is refused (see VelaRefusal.h).
//
// The guards record on the calling thread as they go; a driver clears the
// record when it starts and hands what it finds there back in its result,
// so that nothing of it outlives the call but what the caller keeps.

#include <VelaRefusal.h>

#include <optional>

namespace vela {

// Clears this thread's record; every junction call starts with it.
void ClearRefusal();

// What a guard measured and the bound it broke.
struct Measured {
  double value;
  double limit;
  JunctionRefusal::Unit unit;
};

// Records the reason on this thread and returns false, so that a guard reads
// `if (...) return Refuse(Refusal::X);`.
bool Refuse(Refusal reason, int runner = -1, int otherRunner = -1);
bool Refuse(Refusal reason, int runner, int otherRunner, const Measured& measured);

// The same for a step that answers with an optional:
// `if (...) return Refused(Refusal::X);`.
inline std::nullopt_t Refused(Refusal reason, int runner = -1, int otherRunner = -1) {
  Refuse(reason, runner, otherRunner);
  return std::nullopt;
}

// Sets this thread's record to a refusal found elsewhere: the class reports
// what its driver returned.
void RecordRefusal(const JunctionRefusal& refusal);

}  // namespace vela
