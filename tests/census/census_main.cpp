// vela_census: long census runs by hand.
//
//   vela_census [--profile plausible|broad|bends|both] [--seed S] [--count N]
//               [--start I] [--dump DIR] [--verbose] [--improved]
//
// Meshes junctions I..I+N-1 of each chosen profile (so that --start I
// --count 1 replays one junction a run reported), judges every answer and
// prints how many were accepted, accepted but unsound (by fault class),
// refused (by reason), and the unsound share by runner count and by the
// smallest angle between neighbours. --dump writes every failing junction as
// a junction file that `vela-mesh junction` reads. Exit status 0 when every
// call passed, 1 when some failed, 2 for a wrong command line.
//
// --improved meshes through the value API's default instead (the improved
// construction) and holds every accepted junction to a flow solver's floors:
// a scaled Jacobian of at least 0.2 and no wall node more than 2 % of its
// radius outside the channel. It prints how many miss each floor by runner
// count, by the ratio of the junction-end radii, by the smallest angle
// between neighbours and, for bends, by opening; --dump then writes the
// junctions that miss one.
//
// One process meshes one junction at a time; run several processes with
// different seeds to use more cores.

#include "census_run.h"
#include "channel.h"
#include "junction_call.h"
#include "junction_generator.h"

#include <CLI/CLI.hpp>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <limits>
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
  bool improved = false;
};

constexpr int kUsageError = 2;

// Fills options from the command line; false (after a message) when it is
// wrong, exits 0 after --help.
bool ParseArgs(int argc, char** argv, Options& o) {
  CLI::App app{"Meshes census junctions and judges every answer.", "vela_census"};
  std::string profile = "both";
  app.add_option("--profile", profile, "plausible, broad, bends, or both of the first two")
      ->check(CLI::IsMember({"plausible", "broad", "bends", "both"}));
  app.add_option("--seed", o.seed, "generator seed");
  app.add_option("--count", o.count, "junctions per profile");
  app.add_option("--start", o.start, "index of the first junction");
  app.add_option("--dump", o.dumpDir, "folder for the junction files of failing calls");
  app.add_flag("--verbose", o.verbose, "a line for every junction");
  app.add_flag("--improved", o.improved,
               "the value API's default, held to a scaled Jacobian of 0.2 and the wall within 2 % of the channel");
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

// --- the improved construction against a solver's floors -------------------------------------

constexpr double kFloorScaledJacobian = 0.2;
constexpr double kFloorWall = 0.02;

// Accepted junctions of one class, and how they stand against the floors.
struct FloorShare {
  int accepted = 0, underCells = 0, wallOut = 0, missing = 0;
  double worst = 1.0, furthest = 0.0;
  void Add(double sj, double wall) {
    ++accepted;
    underCells += sj < kFloorScaledJacobian ? 1 : 0;
    wallOut += wall > kFloorWall ? 1 : 0;
    missing += sj < kFloorScaledJacobian || wall > kFloorWall ? 1 : 0;
    worst = std::min(worst, sj);
    furthest = std::max(furthest, wall);
  }
};

using FloorTable = std::map<std::string, FloorShare>;

// Bucket labels sort as the buckets do.
std::string RatioBucket(double ratio) {
  if (ratio < 1.1) return "1.0-1.1";
  if (ratio < 1.2) return "1.1-1.2";
  if (ratio < 1.3) return "1.2-1.3";
  return "1.3+";
}
std::string AngleLabel(double deg) {
  static const std::array<const char*, 5> sorted{"a <10", "b 10-30", "c 30-45", "d 45-90", "e >90"};
  return sorted[AngleBucket(deg)];
}
std::string OpeningBucket(double deg) {
  if (deg < 45) return "a 20-45";
  if (deg < 60) return "b 45-60";
  if (deg < 90) return "c 60-90";
  if (deg < 135) return "d 90-135";
  return "e 135-180";
}

void PrintFloorTable(const char* title, const FloorTable& table) {
  std::printf("  by %s:\n  %-12s %8s %9s %9s %8s %8s %9s\n", title, "", "accepted", "under SJ", "wall out", "missing",
              "min SJ", "max wall");
  for (const auto& [label, s] : table)
    std::printf("  %-12s %8d %9d %9d %8d %8.3f %8.1f %%\n", label.c_str(), s.accepted, s.underCells, s.wallOut,
                s.missing, s.worst, 100.0 * s.furthest);
}

// Meshes and judges junctions start..start+count-1 of the profile; false
// when an accepted one misses a floor, or a call fails the census's promise.
bool RunImproved(Profile profile, const Options& o) {
  FloorTable byRunners, byRatio, byAngle, byOpening;
  FloorShare all;
  int refused = 0, broken = 0;
  const auto start = std::chrono::steady_clock::now();
  for (std::uint64_t i = o.start; i < o.start + o.count; ++i) {
    const Junction j = vela::census::GenerateJunction(profile, o.seed, i);
    const vela::JunctionInput input = vela::host::InputOf(FileOf(j));
    const vela::JunctionResult result = vela::MeshJunction(input);
    if (!result.ok()) {
      ++refused;
      if (result.refusal.reason == vela::Refusal::None) ++broken;
      continue;
    }
    MemoryMesh mesh;
    WriteSolidMesh(result.mesh, mesh);
    // As `vela-mesh junction` judges it: two nodes within a millionth of the
    // mesh's extent count as one.
    const vela::quality::QualityReport report = vela::quality::Assess(mesh, vela::quality::DefaultTolerance(mesh));
    std::vector<vela::quality::MachinedRunner> channel;
    double narrowest = std::numeric_limits<double>::infinity(), widest = 0.0;
    for (size_t r = 0; r < input.farPoints.size(); ++r) {
      channel.push_back({input.center, input.farPoints[r], input.radii[2 * r + 1], input.radii[2 * r]});
      narrowest = std::min(narrowest, input.radii[2 * r + 1]);
      widest = std::max(widest, input.radii[2 * r + 1]);
    }
    const bool sound = !vela::quality::HasFaults(report);
    broken += sound ? 0 : 1;
    const double sj = vela::quality::SmallestScaledJacobian(report);
    const double wall = vela::quality::AssessWall(mesh, channel).share;
    const double angle = vela::census::SmallestNeighbourAngleDeg(j);
    all.Add(sj, wall);
    char runners[8];
    std::snprintf(runners, sizeof runners, "N=%zu", input.farPoints.size());
    byRunners[runners].Add(sj, wall);
    byRatio[RatioBucket(widest / narrowest)].Add(sj, wall);
    if (input.farPoints.size() == 2)
      byOpening[OpeningBucket(angle)].Add(sj, wall);
    else
      byAngle[AngleLabel(angle)].Add(sj, wall);
    const bool misses = sj < kFloorScaledJacobian || wall > kFloorWall;
    if (o.verbose || misses || !sound)
      std::printf("%s N=%zu angle=%.1f ratio=%.3f: min SJ %.3f, wall %.2f %%%s\n", j.name.c_str(),
                  input.farPoints.size(), angle, widest / narrowest, sj, 100.0 * wall,
                  sound ? "" : (" UNSOUND: " + vela::quality::DescribeFaults(report)).c_str());
    if ((misses || !sound) && !o.dumpDir.empty()) Dump(o.dumpDir, j);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s, seed %llu, improved: %llu junctions in %.1f s; %d accepted, %d refused, %d broken\n",
              vela::census::ProfileName(profile), static_cast<unsigned long long>(o.seed),
              static_cast<unsigned long long>(o.count), seconds, all.accepted, refused, broken);
  std::printf("  missing a floor: %d (scaled Jacobian under %.1f: %d; wall over %.0f %%: %d)\n", all.missing,
              kFloorScaledJacobian, all.underCells, 100 * kFloorWall, all.wallOut);
  PrintFloorTable("runner count", byRunners);
  PrintFloorTable("ratio of the junction-end radii", byRatio);
  PrintFloorTable("smallest neighbour angle, 3 runners or more (degrees)", byAngle);
  PrintFloorTable("bend opening (degrees)", byOpening);
  return all.missing == 0 && broken == 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (!ParseArgs(argc, argv, o)) return kUsageError;
  if (o.improved) {
    bool met = true;
    for (Profile profile : o.profiles) met = RunImproved(profile, o) && met;
    return met ? 0 : 1;
  }
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
