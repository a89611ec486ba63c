#pragma once

// One census trial: mesh a junction through the public calls and judge the
// answer. A call passes when it refuses with a reason and leaves the container
// untouched, or meshes a junction that is sound: it has elements, and the
// quality report (tools/quality, which shares no code with the library) finds
// no fault in it, two nodes counting as one within the report's default
// tolerance, as `vela-mesh junction` judges the same junction.

#include "quality.h"

#include "../junction_fixtures.h"

#include <VelaRefusal.h>

#include <string>

namespace vela::census {

enum class Outcome {
  Sound,                // true, and the mesh is sound
  Refused,              // false with a reason, container untouched
  Unsound,              // true with no elements, or with a mesh the quality report finds faults in
  RefusedWithoutReason, // false, but LastJunctionRefusal() says None
  RefusedButWrote,      // false after writing into the container
  Threw,                // an exception left the library
  Count
};

const char* OutcomeName(Outcome outcome);

struct Verdict {
  Outcome outcome = Outcome::Sound;
  vela::JunctionRefusal refusal;
  quality::QualityReport report;  // judged for every mesh the library claimed to finish
  std::string error;              // what() of an exception
  int nodes = 0, elements = 0;

  bool Passed() const { return outcome == Outcome::Sound || outcome == Outcome::Refused; }
  // A finished mesh without a single element: unsound, though no fault class counts it.
  bool Empty() const { return outcome == Outcome::Unsound && elements == 0; }
  // One line: the outcome and, as it applies, the reason or the fault summary.
  std::string Describe() const;
  // The faults of an unsound mesh on one line: the report's lines joined by
  // "; ", or "no elements".
  std::string FaultSummary() const;
};

Verdict Judge(const Junction& j);

}  // namespace vela::census
