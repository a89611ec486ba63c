#include "census_run.h"

#include <exception>

namespace vela::census {

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Sound: return "sound";
    case Outcome::Refused: return "refused";
    case Outcome::Unsound: return "unsound";
    case Outcome::RefusedWithoutReason: return "refused-without-reason";
    case Outcome::RefusedButWrote: return "refused-but-wrote";
    case Outcome::Threw: return "threw";
    case Outcome::Count: break;
  }
  return "unknown";
}

std::string Verdict::FaultSummary() const {
  if (Empty()) return "no elements";
  std::string joined;
  for (const char c : quality::DescribeFaults(report)) joined += c == '\n' ? std::string("; ") : std::string(1, c);
  return joined.substr(0, joined.size() >= 2 ? joined.size() - 2 : 0);  // no "; " after the last line
}

std::string Verdict::Describe() const {
  std::string out = OutcomeName(outcome);
  switch (outcome) {
    case Outcome::Refused:
    case Outcome::RefusedButWrote:
      out += std::string(" (") + vela::RefusalName(refusal.reason) + ", runner " + std::to_string(refusal.runner) +
             ", other " + std::to_string(refusal.otherRunner) + ")";
      break;
    case Outcome::Unsound:
      out += ": " + std::to_string(nodes) + " nodes, " + std::to_string(elements) + " elements; " + FaultSummary();
      break;
    case Outcome::Threw: out += ": " + error; break;
    default: break;
  }
  return out;
}

namespace {

Verdict VerdictOf(const Meshed& m) {
  Verdict v;
  v.refusal = vela::LastJunctionRefusal();
  v.nodes = m.mesh.GetNodeCount();
  v.elements = m.mesh.GetElementCount();
  if (!m.ok) {
    if (m.mesh.CallCount() != 0)
      v.outcome = Outcome::RefusedButWrote;
    else
      v.outcome = v.refusal.reason == vela::Refusal::None ? Outcome::RefusedWithoutReason : Outcome::Refused;
    return v;
  }
  v.report = quality::Assess(m.mesh, quality::DefaultTolerance(m.mesh));
  v.outcome = v.elements > 0 && !quality::HasFaults(v.report) ? Outcome::Sound : Outcome::Unsound;
  return v;
}

}  // namespace

Verdict Judge(const Junction& j) {
  try {
    return VerdictOf(MeshJunction(j));
  } catch (const std::exception& e) {
    Verdict v;
    v.outcome = Outcome::Threw;
    v.error = e.what();
    return v;
  }
}

}  // namespace vela::census
