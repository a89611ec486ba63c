#pragma once

// One census trial: mesh a junction through the public calls and judge the
// answer. A call passes when it refuses with a reason and leaves the container
// untouched, or meshes a junction that CheckSoundness finds sound.

#include "soundness.h"

#include "../junction_fixtures.h"

#include <VelaRefusal.h>

#include <string>

namespace vela::census {

enum class Outcome {
  Sound,                // true, and the mesh is sound
  Refused,              // false with a reason, container untouched
  Unsound,              // true with a mesh that fails the soundness check
  RefusedWithoutReason, // false, but LastJunctionRefusal() says None
  RefusedButWrote,      // false after writing into the container
  Threw,                // an exception left the library
  Count
};

const char* OutcomeName(Outcome outcome);

struct Verdict {
  Outcome outcome = Outcome::Sound;
  vela::JunctionRefusal refusal;
  Soundness soundness;  // judged for every mesh the library claimed to finish
  std::string error;    // what() of an exception
  int nodes = 0, elements = 0;

  bool Passed() const { return outcome == Outcome::Sound || outcome == Outcome::Refused; }
  // One line: the outcome and, as it applies, the reason or the fault summary.
  std::string Describe() const;
};

Verdict Judge(const Junction& j);

}  // namespace vela::census
