// vela_census: long census runs by hand.
//
//   vela_census [--profile plausible|broad|both] [--seed S] [--count N]
//               [--start I] [--dump DIR] [--verbose]
//
// Meshes junctions I..I+N-1 of each chosen profile (so that --start I
// --count 1 replays one junction a run reported), judges every answer and
// prints how many were accepted, accepted but unsound (by fault class),
// refused (by reason), and the unsound share by runner count and by the
// smallest angle between neighbours. --dump writes every failing junction as
// a junction file that `vela-mesh junction` reads. Exit status 0 when every
// call passed, 1 when some failed, 2 for a wrong command line.
//
// One process meshes one junction at a time; run several processes with
// different seeds to use more cores.

#include "census_run.h"
#include "junction_generator.h"

#include <CLI/CLI.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace {

using vela::census::Outcome;
using vela::census::Profile;
using vela::quality::Fault;

struct Options {
  std::vector<Profile> profiles{Profile::Plausible, Profile::Broad};
  std::uint64_t seed = 1;
  std::uint64_t count = 1000;
  std::uint64_t start = 0;
  std::string dumpDir;
  bool verbose = false;
};

constexpr int kUsageError = 2;

// Fills options from the command line; false (after a message) when it is
// wrong, exits 0 after --help.
bool ParseArgs(int argc, char** argv, Options& o) {
  CLI::App app{"Meshes census junctions and judges every answer.", "vela_census"};
  std::string profile = "both";
  app.add_option("--profile", profile, "plausible, broad or both")
      ->check(CLI::IsMember({"plausible", "broad", "both"}));
  app.add_option("--seed", o.seed, "generator seed");
  app.add_option("--count", o.count, "junctions per profile");
  app.add_option("--start", o.start, "index of the first junction");
  app.add_option("--dump", o.dumpDir, "folder for the junction files of failing calls");
  app.add_flag("--verbose", o.verbose, "a line for every junction");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    if (status == 0) std::exit(0);
    return false;
  }
  if (profile != "both") o.profiles = {*vela::census::ProfileFromName(profile)};
  return true;
}

// Junctions and failures in one group of the breakdown.
struct Share {
  int total = 0, accepted = 0, unsound = 0;
};

struct Tally {
  std::array<int, static_cast<size_t>(Outcome::Count)> outcomes{};
  std::map<std::string, int> refusedBy;
  std::array<int, vela::quality::kFaultClasses> unsoundBy{};  // junctions with the class
  int empty = 0;                                               // junctions meshed into no elements
  std::map<int, Share> byRunners;
  std::array<Share, 5> byAngle{};
  int Of(Outcome o) const { return outcomes[static_cast<size_t>(o)]; }
};

const std::array<const char*, 5> kAngleBuckets{"<10", "10-30", "30-45", "45-90", ">90"};

size_t AngleBucket(double deg) {
  if (deg < 10) return 0;
  if (deg < 30) return 1;
  if (deg < 45) return 2;
  if (deg < 90) return 3;
  return 4;
}

void Count(const Junction& j, const vela::census::Verdict& v, Tally& t) {
  ++t.outcomes[static_cast<size_t>(v.outcome)];
  if (v.outcome == Outcome::Refused || v.outcome == Outcome::RefusedButWrote)
    ++t.refusedBy[vela::RefusalName(v.refusal.reason)];
  if (v.outcome == Outcome::RefusedWithoutReason) ++t.refusedBy["(no reason)"];
  if (v.outcome == Outcome::Unsound)
    for (int f = 0; f < vela::quality::kFaultClasses; ++f)
      t.unsoundBy[static_cast<size_t>(f)] += v.report.Count(static_cast<Fault>(f)) > 0 ? 1 : 0;
  t.empty += v.Empty() ? 1 : 0;
  const bool accepted = v.outcome == Outcome::Sound || v.outcome == Outcome::Unsound;
  for (Share* s : {&t.byRunners[static_cast<int>(j.farPoints.size())],
                   &t.byAngle[AngleBucket(vela::census::SmallestNeighbourAngleDeg(j))]}) {
    ++s->total;
    s->accepted += accepted ? 1 : 0;
    s->unsound += v.outcome == Outcome::Unsound ? 1 : 0;
  }
}

void PrintShare(const std::string& label, const Share& s) {
  const double rate = s.accepted > 0 ? 100.0 * s.unsound / s.accepted : 0.0;
  std::printf("  %-8s %7d %9d %8d %9.1f %%\n", label.c_str(), s.total, s.accepted, s.unsound, rate);
}

void PrintTally(const std::string& title, const Tally& t, double seconds) {
  int total = 0;
  for (int c : t.outcomes) total += c;
  std::printf("%s: %d junctions in %.1f s\n", title.c_str(), total, seconds);
  std::printf("  accepted and sound        %d\n", t.Of(Outcome::Sound));
  std::printf("  accepted but unsound      %d\n", t.Of(Outcome::Unsound));
  if (t.empty > 0) std::printf("    %-40s %d\n", "no elements", t.empty);
  for (int f = 0; f < vela::quality::kFaultClasses; ++f)
    if (t.unsoundBy[static_cast<size_t>(f)] > 0)
      std::printf("    %-40s %d\n", vela::quality::FaultName(static_cast<Fault>(f)), t.unsoundBy[static_cast<size_t>(f)]);
  std::printf("  refused with a reason     %d\n", t.Of(Outcome::Refused));
  std::printf("  refused without a reason  %d\n", t.Of(Outcome::RefusedWithoutReason));
  std::printf("  refused after writing     %d\n", t.Of(Outcome::RefusedButWrote));
  std::printf("  threw                     %d\n", t.Of(Outcome::Threw));
  std::printf("  refusals by reason:\n");
  for (const auto& [name, n] : t.refusedBy) std::printf("    %-22s %d\n", name.c_str(), n);
  std::printf("  by runner count:  total  accepted  unsound  unsound/accepted\n");
  for (const auto& [n, s] : t.byRunners) PrintShare("N=" + std::to_string(n), s);
  std::printf("  by smallest neighbour angle (degrees):\n");
  for (size_t b = 0; b < kAngleBuckets.size(); ++b) PrintShare(kAngleBuckets[b], t.byAngle[b]);
}

void Dump(const std::string& dir, const Junction& j) {
  std::filesystem::create_directories(dir);
  const std::string path = (std::filesystem::path(dir) / (j.name + ".json")).string();
  std::ofstream out(path);
  out << vela::census::JunctionFileText(j);
  if (!out) std::cerr << "vela_census: could not write " << path << '\n';
}

int Layers(const std::vector<double>& list) { return list.empty() ? 0 : static_cast<int>(list.size()) - 1; }

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return kUsageError;
  Tally all;
  double allSeconds = 0.0;
  for (Profile profile : o.profiles) {
    Tally t;
    const auto start = std::chrono::steady_clock::now();
    for (std::uint64_t i = o.start; i < o.start + o.count; ++i) {
      const Junction j = vela::census::GenerateJunction(profile, o.seed, i);
      const vela::census::Verdict v = vela::census::Judge(j);
      Count(j, v, t);
      Count(j, v, all);
      if (o.verbose || !v.Passed())
        std::printf("%s N=%zu F=%d C=%d B=%d angle=%.1f: %s\n", j.name.c_str(), j.farPoints.size(), j.firstRing,
                    Layers(j.inner), Layers(j.outer), vela::census::SmallestNeighbourAngleDeg(j),
                    v.Describe().c_str());
      if (!v.Passed() && !o.dumpDir.empty()) Dump(o.dumpDir, j);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    allSeconds += seconds;
    PrintTally(std::string(vela::census::ProfileName(profile)) + ", seed " + std::to_string(o.seed), t, seconds);
  }
  if (o.profiles.size() > 1) PrintTally("all profiles", all, allSeconds);
  const bool failed = all.Of(Outcome::Unsound) + all.Of(Outcome::RefusedWithoutReason) +
                          all.Of(Outcome::RefusedButWrote) + all.Of(Outcome::Threw) >
                      0;
  return failed ? 1 : 0;
}
