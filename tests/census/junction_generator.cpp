#include "junction_generator.h"

#include "vec3.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iomanip>
#include <numeric>
#include <random>
#include <sstream>

namespace vela::census {

namespace {

using Vec = std::array<double, 3>;

using vela::kPi;
constexpr double kDeg = kPi / 180.0;

// Mixes the three keys of a junction into one engine seed, so that junction i
// does not depend on how many numbers junctions 0..i-1 drew.
std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// Draws from the engine with our own arithmetic: the standard distributions
// differ between standard libraries, and a seed must name the same junction
// on every machine.
class Draw {
  static std::uint64_t Salt(Profile profile) {
    switch (profile) {
      case Profile::Broad: return 0xB40Du;
      case Profile::Bends: return 0xBE4Du;
      case Profile::Plausible: break;
    }
    return 0x9A1Eu;
  }

public:
  Draw(Profile profile, std::uint64_t seed, std::uint64_t index)
      : m_engine(SplitMix(SplitMix(seed) ^ SplitMix(index + 0x5151) ^
                          Salt(profile))) {}

  // Uniform in [0, 1).
  double Unit() { return static_cast<double>(m_engine() >> 11) * 0x1.0p-53; }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Unit(); }
  // Uniform in the logarithm, for sizes spanning orders of magnitude.
  double LogUniform(double lo, double hi) { return std::exp(Uniform(std::log(lo), std::log(hi))); }
  // Uniform integer in [lo, hi].
  int Int(int lo, int hi) {
    return lo + static_cast<int>(m_engine() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  bool Chance(double p) { return Unit() < p; }

private:
  std::mt19937_64 m_engine;
};

Vec Add(const Vec& a, const Vec& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec Scale(const Vec& a, double s) { return {a[0] * s, a[1] * s, a[2] * s}; }
double Dot(const Vec& a, const Vec& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Normalized(const Vec& a) { return Scale(a, 1.0 / std::sqrt(Dot(a, a))); }

Vec RandomUnit(Draw& d) {
  const double z = d.Uniform(-1.0, 1.0);
  const double a = d.Uniform(0.0, 2 * kPi);
  const double s = std::sqrt(1.0 - z * z);
  return {s * std::cos(a), s * std::sin(a), z};
}

// An orthonormal frame (u, v, n) with a random junction-plane normal n.
struct Frame {
  Vec u, v, n;

  Vec Direction(double azimuthDeg, double elevationDeg) const {
    const double a = azimuthDeg * kDeg, e = elevationDeg * kDeg;
    return Add(Scale(Add(Scale(u, std::cos(a)), Scale(v, std::sin(a))), std::cos(e)), Scale(n, std::sin(e)));
  }
  double AzimuthDeg(const Vec& dir) const { return std::atan2(Dot(dir, v), Dot(dir, u)) / kDeg; }
};

Frame RandomFrame(Draw& d) {
  Frame f;
  f.n = RandomUnit(d);
  const Vec helper = std::fabs(f.n[0]) < 0.9 ? Vec{1, 0, 0} : Vec{0, 1, 0};
  f.u = Normalized(Cross(helper, f.n));
  f.v = Cross(f.n, f.u);
  return f;
}

// Layer positions from 0 to 1 for count intervals: even, or uneven with each
// interval at least minWeight of the largest before normalising.
std::vector<double> Layers(Draw& d, int count, double minWeight) {
  std::vector<double> w(static_cast<size_t>(count), 1.0);
  if (d.Chance(0.5))
    for (double& x : w) x = d.Uniform(minWeight, 1.0);
  const double total = std::accumulate(w.begin(), w.end(), 0.0);
  std::vector<double> out{0.0};
  double sum = 0.0;
  for (int i = 0; i + 1 < count; ++i) {
    sum += w[static_cast<size_t>(i)];
    out.push_back(sum / total);
  }
  out.push_back(1.0);
  return out;
}

// Azimuths (degrees) of n runners around the plane, in increasing order.
std::vector<double> EvenAzimuths(Draw& d, int n, double jitterShare) {
  const double step = 360.0 / n, start = d.Uniform(0.0, 360.0);
  std::vector<double> a;
  for (int i = 0; i < n; ++i) a.push_back(start + i * step + d.Uniform(-jitterShare, jitterShare) * step);
  return a;
}

// Gaps between neighbours drawn widely, one of them sometimes very narrow, so
// that neighbours from about 1 to beyond 180 degrees apart all occur.
std::vector<double> BroadAzimuths(Draw& d, int n) {
  std::vector<double> gap(static_cast<size_t>(n));
  for (double& g : gap) g = d.Uniform(0.05, 1.0);
  double fixed = 0.0;
  const bool narrow = d.Chance(0.35);
  if (narrow) fixed = d.LogUniform(1.0, 30.0);
  const double total = std::accumulate(gap.begin() + (narrow ? 1 : 0), gap.end(), 0.0);
  for (size_t i = narrow ? 1 : 0; i < gap.size(); ++i) gap[i] *= (360.0 - fixed) / total;
  if (narrow) gap[0] = fixed;
  std::rotate(gap.begin(), gap.begin() + d.Int(0, n - 1), gap.end());
  std::vector<double> a{d.Uniform(0.0, 360.0)};
  for (int i = 0; i + 1 < n; ++i) a.push_back(a.back() + gap[static_cast<size_t>(i)]);
  return a;
}

// Sections and shares shared by both profiles; the ranges differ.
struct SectionRanges {
  int firstRingSmall, firstRingLarge;  // mostly up to the first, sometimes up to the second
  int ringsSmall, ringsLarge;
  double largeChance;
  double minLayerWeight;
  double innerShareLo, innerShareHi;
  double oddRingChance;
};

void DrawSection(Draw& d, const SectionRanges& r, Junction& j) {
  const bool largeF = r.firstRingLarge > r.firstRingSmall && d.Chance(r.largeChance);
  const bool largeC = d.Chance(r.largeChance);
  j.firstRing = largeF ? d.Int(r.firstRingSmall + 1, r.firstRingLarge) : d.Int(4, r.firstRingSmall);
  // Sections of neighbouring branches meet node for node only with an even
  // first ring; odd ones are drawn now and then, to be refused.
  if (j.firstRing % 2 != 0 && !d.Chance(r.oddRingChance)) j.firstRing += 1;
  const int rings = largeC ? d.Int(r.ringsSmall + 1, r.ringsLarge) : d.Int(1, r.ringsSmall);
  const int layers = d.Int(0, 3);
  j.inner = Layers(d, rings, r.minLayerWeight);
  j.outer = layers > 0 ? Layers(d, layers, r.minLayerWeight) : std::vector<double>{};
  if (layers == 0 && d.Chance(0.5)) {
    j.innerShare = 1.0;
  } else {
    j.innerShare = d.Chance(0.4) ? 0.8 : d.Uniform(r.innerShareLo, r.innerShareHi);
  }
  j.outerShare = 1.0 - j.innerShare;
}

// Far points and radii from directions and per-runner junction-end radii.
void PlaceRunners(Draw& d, const std::vector<Vec>& dirs, const std::vector<double>& radius, double maxTaper,
                  double distLo, double distHi, Junction& j) {
  j.farPoints.clear();
  j.radii.clear();
  for (size_t i = 0; i < dirs.size(); ++i) {
    const double rJunction = radius[i];
    const double rFar = rJunction * (1.0 + d.Uniform(-maxTaper, maxTaper));
    const double dist = d.Uniform(distLo, distHi) * std::max(rJunction, rFar);
    j.farPoints.push_back(Add(j.center, Scale(dirs[i], dist)));
    j.radii.insert(j.radii.end(), {rFar, rJunction});
  }
}

// A plausible junction of n runners (2 to 8 when n is 0); a bend opens
// between minOpening and maxOpening degrees.
Junction Plausible(Draw& d, int n = 0, double minOpening = 45.0, double maxOpening = 170.0) {
  Junction j;
  if (n == 0) n = d.Int(2, 8);
  j.bend = n == 2;
  j.center = {d.Uniform(-100, 100), d.Uniform(-100, 100), d.Uniform(-100, 100)};
  const Frame f = RandomFrame(d);
  const std::vector<double> azimuths =
      j.bend ? std::vector<double>{0.0, d.Uniform(minOpening, maxOpening)} : EvenAzimuths(d, n, 0.15);
  std::vector<Vec> dirs;
  for (double a : azimuths) dirs.push_back(f.Direction(a, d.Uniform(-5.0, 5.0)));
  const double base = d.LogUniform(0.5, 5.0);
  std::vector<double> radius;
  for (int i = 0; i < n; ++i) radius.push_back(base * (1.0 + d.Uniform(-0.15, 0.15)));
  PlaceRunners(d, dirs, radius, 0.10, 5.0, 40.0, j);
  DrawSection(d, {16, 16, 4, 6, 0.2, 0.25, 0.65, 0.9, 0.08}, j);
  return j;
}

Junction Broad(Draw& d) {
  Junction j;
  const int n = d.Int(2, 8);
  j.bend = n == 2;
  const double offset = d.Chance(0.05) ? 1e4 : 1e3;
  j.center = {d.Uniform(-offset, offset), d.Uniform(-offset, offset), d.Uniform(-offset, offset)};
  const Frame f = RandomFrame(d);
  std::vector<Vec> dirs;
  const double mode = d.Unit();
  if (mode < 0.7) {
    // Near-planar or moderately out of the plane.
    const double maxElevation = mode < 0.4 ? 5.0 : 30.0;
    const std::vector<double> azimuths =
        j.bend ? std::vector<double>{0.0, d.Uniform(1.0, 180.0)} : BroadAzimuths(d, n);
    for (double a : azimuths) dirs.push_back(f.Direction(a, d.Uniform(-maxElevation, maxElevation)));
  } else {
    // Fully 3D; mostly in order around the frame's normal, as a host would
    // list them, sometimes in the order drawn.
    for (int i = 0; i < n; ++i) dirs.push_back(RandomUnit(d));
    if (d.Chance(0.9))
      std::sort(dirs.begin(), dirs.end(),
                [&f](const Vec& a, const Vec& b) { return f.AzimuthDeg(a) < f.AzimuthDeg(b); });
  }
  const double base = d.LogUniform(0.2, 5.0);
  const double ratio = d.Uniform(1.0, 6.0);
  std::vector<double> radius;
  for (int i = 0; i < n; ++i) radius.push_back(base * d.LogUniform(1.0, ratio));
  PlaceRunners(d, dirs, radius, 0.40, 2.0, 40.0, j);
  DrawSection(d, {16, 32, 4, 8, 0.15, 0.05, 0.5, 0.97, 0.12}, j);
  return j;
}

Vec DirectionOf(const Junction& j, size_t i) {
  const Vec& p = j.farPoints[i];
  return Normalized({p[0] - j.center[0], p[1] - j.center[1], p[2] - j.center[2]});
}

void WriteNumber(std::ostream& out, double v) {
  if (std::isfinite(v))
    out << v;
  else
    out << "null";  // JSON has no word for it; the reader then names the key
}

void WriteList(std::ostream& out, const std::vector<double>& values) {
  out << '[';
  for (size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out << ", ";
    WriteNumber(out, values[i]);
  }
  out << ']';
}

}  // namespace

const char* ProfileName(Profile profile) {
  switch (profile) {
    case Profile::Broad: return "broad";
    case Profile::Bends: return "bends";
    case Profile::Plausible: break;
  }
  return "plausible";
}

std::optional<Profile> ProfileFromName(const std::string& name) {
  for (const Profile profile : {Profile::Plausible, Profile::Broad, Profile::Bends})
    if (name == ProfileName(profile)) return profile;
  return std::nullopt;
}

Junction GenerateJunction(Profile profile, std::uint64_t seed, std::uint64_t index) {
  Draw d(profile, seed, index);
  Junction j = profile == Profile::Broad   ? Broad(d)
               : profile == Profile::Bends ? Plausible(d, 2, 20.0, 180.0)
                                           : Plausible(d);
  j.name = std::string(ProfileName(profile)) + "-s" + std::to_string(seed) + "-i" + std::to_string(index);
  return j;
}

double SmallestNeighbourAngleDeg(const Junction& j) {
  const size_t n = j.farPoints.size();
  if (n < 2) return 180.0;
  double smallest = 180.0;
  for (size_t i = 0; i < (n == 2 ? 1 : n); ++i) {
    const double c = Dot(DirectionOf(j, i), DirectionOf(j, (i + 1) % n));
    smallest = std::min(smallest, std::acos(std::clamp(c, -1.0, 1.0)) / kDeg);
  }
  return smallest;
}

std::string JunctionFileText(const Junction& j) {
  std::ostringstream out;
  out << std::setprecision(17);
  out << "{\n  \"name\": \"" << j.name << "\",\n  \"center\": ";
  WriteList(out, std::vector<double>(j.center.begin(), j.center.end()));
  out << ",\n  \"far_points\": [";
  for (size_t i = 0; i < j.farPoints.size(); ++i) {
    out << (i > 0 ? ",\n    " : "\n    ");
    WriteList(out, std::vector<double>(j.farPoints[i].begin(), j.farPoints[i].end()));
  }
  out << "\n  ],\n  \"radii\": ";
  WriteList(out, j.radii);
  out << ",\n  \"inner_share\": ";
  WriteNumber(out, j.innerShare);
  out << ", \"outer_share\": ";
  WriteNumber(out, j.outerShare);
  out << ",\n  \"first_circle_nodes\": " << j.firstRing << ",\n  \"inner_layers\": ";
  WriteList(out, j.inner);
  out << ",\n  \"outer_layers\": ";
  WriteList(out, j.outer);
  out << "\n}\n";
  return out.str();
}

}  // namespace vela::census
