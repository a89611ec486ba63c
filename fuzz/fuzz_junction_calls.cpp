// Fuzzes the public calls of CVelaRunnerMapping as a host would make them, on
// one mapper per input so that settings and stored inputs carry from call to
// call.
//
// The bytes are a program of at most kMaxOps operations (see Op); numbers are
// read as ByteReader describes. Every call is held to what the headers
// promise, and a broken promise traps:
//   - a setter answers true exactly for the values its comment accepts;
//   - a junction call that returns true wrote a complete, finite mesh in which
//     the quality report finds no fault (no inverted, flat or collapsed
//     element, no face shared by three elements or twice in one turn, a closed
//     boundary, no overlap, no duplicate node), filled farNodeOut with finite
//     points, and its refusal record reads None;
//   - a junction call that returns false touched neither the container nor
//     farNodeOut, and (with VELA_FUZZ_REQUIRE_REASON) recorded why;
//   - both NConnectRunner overloads agree on the far nodes of one junction;
//   - RunnerLength with b = 0 or an empty far-point list, and entry 0 of the
//     plain-array form, leave out untouched.
// std::invalid_argument, the one documented exception, ends the input quietly.
//
// Sizes are bounded so that an input runs in milliseconds, except for the
// Huge operation: it sets a first ring and ring count whose cross-section
// alone needs more nodes than an int numbers, which the library must refuse
// rather than try to allocate.
//
// Environment: VELA_FUZZ_EXPECT_MESHED=1 traps on an input in which no
// junction call returned true, so that a test can prove that the seeds of a
// Y, a T, an X and a bend still reach the meshing code. VELA_FUZZ_TRACE=1
// prints every call with its arguments and answer, to read a reproducer.

#include "ByteReader.h"
#include "CheckingMesh.h"

#include <quality.h>
#include <VelaRunnerMapping.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#ifndef VELA_FUZZ_REQUIRE_REASON
#define VELA_FUZZ_REQUIRE_REASON 1
#endif
// To fuzz on past a known library fault until it is fixed; all off by default.
#ifndef VELA_FUZZ_AVOID_NULLS  // null lists, mesh or far-node output
#define VELA_FUZZ_AVOID_NULLS 0
#endif
#ifndef VELA_FUZZ_AVOID_MARGINS  // RunnerLength with a = INT_MIN, b = -1
#define VELA_FUZZ_AVOID_MARGINS 0
#endif
#ifndef VELA_FUZZ_AVOID_HUGE  // the Huge operation
#define VELA_FUZZ_AVOID_HUGE 0
#endif

namespace {

using vela::fuzz::ByteReader;
using vela::fuzz::CheckingMesh;
using vela::fuzz::Fault;

// The operations; the values are the byte that selects them (mod kOpCount),
// and fuzz/make_seeds.py writes them. Append only.
enum Op : int {
  kSetFirstRing,    // Int
  kSetLayers,       // Byte (under kNullsTag, bit 0: inner null, bit 1: outer null), two lists
  kSetRatio,        // Double
  kJunction,        // see DecodeJunction
  kNConnect,        // NConnectRunner into a mesh
  kNConnectNoMesh,  // NConnectRunner, far nodes only
  kTwoConnect,      // TwoConnectRunner
  kLengthArrays,    // Int a, Int b: RunnerLength, plain arrays
  kLengthLists,     // Int a, Int b, Byte out size, Byte radius form: RunnerLength, lists
  kHuge,            // Byte F choice, Byte extra rings, Byte outer layers
  kOpCount
};

constexpr int kMaxOps = 16;
constexpr int kMaxFirstRing = 64;
constexpr int kMaxLayerList = 12;
constexpr int kMaxFarPoints = 10;
constexpr int kMaxRadii = 24;
// Cross-section nodes times runners above which a call is skipped: larger
// junctions only repeat the same code more slowly (an X of F 32, C 4 fits).
constexpr long long kWorkBudget = 1200;

const float kSentinel = 12345.5f;

// The high nibble of a flag byte under which its low bits ask for null
// pointers: one byte in sixteen, or nearly every call would stop at a null.
constexpr uint8_t kNullsTag = 0xA0;

bool EnvironmentSays(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

bool Tracing() {
  static const bool tracing = EnvironmentSays("VELA_FUZZ_TRACE");
  return tracing;
}

#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void Trace(const char* format, ...) {
  if (!Tracing()) return;
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
}

std::string ListText(const CArray<double, double>* list) {
  if (list == nullptr) return "null";
  std::string text = "[";
  char number[32];
  for (int i = 0; i < list->GetSize(); ++i) {
    std::snprintf(number, sizeof number, "%s%.17g", i ? ", " : "", list->GetAt(i));
    text += number;
  }
  return text + "]";
}

std::string PointsText(const CArray<ON_3fPoint, ON_3fPoint>* list) {
  if (list == nullptr) return "null";
  std::string text = "[";
  char point[96];
  for (int i = 0; i < list->GetSize(); ++i) {
    const ON_3fPoint& p = list->GetAt(i);
    std::snprintf(point, sizeof point, "%s(%.9g, %.9g, %.9g)", i ? ", " : "", p.x, p.y, p.z);
    text += point;
  }
  return text + "]";
}

void TraceAnswer(const char* call, bool ok) {
  const vela::JunctionRefusal why = vela::LastJunctionRefusal();
  Trace("%s -> %s (%s, runner %d, other %d)\n", call, ok ? "true" : "false",
        vela::RefusalName(why.reason), why.runner, why.otherRunner);
}

// A list of a list form and a pointer that may be null.
struct Junction {
  ON_3fPoint center;
  std::vector<std::array<double, 3>> farExact;  // as decoded, before narrowing to float
  CArray<ON_3fPoint, ON_3fPoint> far;
  CArray<double, double> radii;
  double innerShare = 0.8, outerShare = 0.2;
  bool farNull = false, radiiNull = false, meshNull = false, farNodesNull = false;

  int RunnerCount() const { return farNull ? 0 : far.GetSize(); }
};

// What the mapper holds, as far as the harness needs it for its budget.
struct Settings {
  int firstRing = 8;
  int innerCount = 4;  // rings C; the constructor's value until lists are set
  int outerCount = 0;  // layers B
  bool huge = false;
};

long long SectionNodes(const Settings& s) {
  const long long f = s.firstRing, c = std::max(s.innerCount, 0), b = s.outerCount;
  return 1 + f * c * (c + 1) / 2 + b * c * f;
}

// The last NConnectRunner result of one overload, to compare with the other's.
struct NWayResult {
  bool valid = false;
  int settingsVersion = 0, junctionVersion = 0;
  bool ok = false;
  std::vector<ON_3fPoint> farNodes;
};

bool SameBits(const std::vector<ON_3fPoint>& a, const std::vector<ON_3fPoint>& b) {
  // memcmp must not see the null data() of an empty vector, even for no bytes.
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(ON_3fPoint)) == 0);
}

bool IsSentinel(const ON_3fPoint& p) {
  return p.x == kSentinel && p.y == kSentinel && p.z == kSentinel;
}

void CheckRefusal(bool ok, int runnerCount, const char* call) {
  const vela::JunctionRefusal why = vela::LastJunctionRefusal();
  const int reason = static_cast<int>(why.reason);
  if (reason < 0 || reason >= static_cast<int>(vela::Refusal::Count))
    Fault(std::string(call) + ": refusal reason " + std::to_string(reason) + " out of range");
  if (ok && why.reason != vela::Refusal::None)
    Fault(std::string(call) + " returned true but recorded " + vela::RefusalName(why.reason));
#if VELA_FUZZ_REQUIRE_REASON
  if (!ok && why.reason == vela::Refusal::None)
    Fault(std::string(call) + " returned false without a refusal reason");
#endif
  for (int runner : {why.runner, why.otherRunner})
    if (runner < -1 || runner >= std::max(runnerCount, 0))
      Fault(std::string(call) + ": refusal names runner " + std::to_string(runner) + " of " +
            std::to_string(runnerCount));
}

// Every fault class of the quality report: a true promises a mesh with none
// (mesh_soundness.h lists what the library checks itself; element overlap it
// rules out by its guards instead). With a merge tolerance of 0 only nodes at
// exactly one place count as coincident: the merge must have joined those.
void CheckSound(const CheckingMesh& mesh, const char* call) {
  mesh.ExpectComplete();
  if (mesh.Mesh().elements.empty()) Fault(std::string(call) + " returned true with no element");
  const vela::quality::QualityReport report = vela::quality::Assess(mesh.Mesh(), 0.0);
  if (vela::quality::HasFaults(report))
    Fault(std::string(call) +
          " returned true with an unsound mesh: " + vela::quality::DescribeFaults(report));
}

void TraceSize(const CheckingMesh& mesh) {
  Trace("  mesh of %zu nodes, %zu elements\n", mesh.Mesh().nodes.size(),
        mesh.Mesh().elements.size());
}

class Session {
public:
  explicit Session(ByteReader& in) : m_in(in) {}

  // Runs the program; true when some junction call returned true.
  bool Run() {
    for (int i = 0; i < kMaxOps && !m_in.AtEnd(); ++i)
      Step(static_cast<Op>(m_in.Byte() % kOpCount));
    return m_meshedOnce;
  }

private:
  void Step(Op op) {
    switch (op) {
      case kSetFirstRing:
        SetFirstRing();
        break;
      case kSetLayers:
        SetLayers();
        break;
      case kSetRatio:
        SetRatio();
        break;
      case kJunction:
        DecodeJunction();
        break;
      case kNConnect:
        NConnect(true);
        break;
      case kNConnectNoMesh:
        NConnect(false);
        break;
      case kTwoConnect:
        TwoConnect();
        break;
      case kLengthArrays:
        LengthArrays();
        break;
      case kLengthLists:
        LengthLists();
        break;
      case kHuge:
        Huge();
        break;
      case kOpCount:
        break;
    }
  }

  void SetFirstRing() {
    int n = m_in.Int();
    if (n > kMaxFirstRing) n = 3 + n % (kMaxFirstRing - 2);
    if (m_settings.huge) return;  // keep the size that must be refused
    const bool ok = m_mapper.SetFirstCircleNodeCount(n);
    Trace("SetFirstCircleNodeCount(%d) -> %d\n", n, ok);
    if (ok != (n >= 0))
      Fault("SetFirstCircleNodeCount(" + std::to_string(n) + ") answered " +
            (ok ? "true" : "false"));
    if (ok) {
      m_settings.firstRing = n;
      ++m_settingsVersion;
    }
  }

  CArray<double, double> DecodeList(int maxCount) {
    CArray<double, double> list;
    for (int i = m_in.Count(maxCount); i > 0; --i) list.Add(m_in.Double());
    return list;
  }

  void SetLayers() {
    const uint8_t flags = m_in.Byte();
    const uint8_t nulls = (flags & 0xF0) == kNullsTag ? (flags & 0x03) : 0;
    const CArray<double, double> inner = DecodeList(kMaxLayerList);
    const CArray<double, double> outer = DecodeList(kMaxLayerList);
    if (m_settings.huge) return;
    const bool anyNull = (nulls & 3) != 0;
    const bool ok =
        m_mapper.SetIOBoundaryLayer((nulls & 1) ? nullptr : &inner, (nulls & 2) ? nullptr : &outer);
    Trace("SetIOBoundaryLayer(%s, %s) -> %d\n", ListText((nulls & 1) ? nullptr : &inner).c_str(),
          ListText((nulls & 2) ? nullptr : &outer).c_str(), ok);
    if (ok == anyNull) Fault("SetIOBoundaryLayer answered " + std::string(ok ? "true" : "false"));
    if (ok) {
      m_settings.innerCount = inner.GetSize() - 1;
      m_settings.outerCount = std::max(outer.GetSize() - 1, 0);
      ++m_settingsVersion;
    }
  }

  void SetRatio() {
    const double r = m_in.Double();
    const bool ok = m_mapper.SetIORadiusRatio(r);
    Trace("SetIORadiusRatio(%.17g) -> %d\n", r, ok);
    if (ok != (r > 0.0 && r <= 1.0))
      Fault("SetIORadiusRatio answered " + std::string(ok ? "true" : "false"));
    ++m_settingsVersion;
  }

  ON_3fPoint DecodePoint(std::array<double, 3>* exact) {
    const double x = m_in.Double(), y = m_in.Double(), z = m_in.Double();
    if (exact) *exact = {x, y, z};
    return ON_3fPoint(static_cast<float>(x), static_cast<float>(y), static_cast<float>(z));
  }

  // A flag byte, the centre, far-point count and points, radius count and
  // radii, the two shares. Under kNullsTag, flag bits 0..3 pass a null far
  // list, radius list, mesh, far-node output.
  void DecodeJunction() {
    Junction j;
    const uint8_t flags = m_in.Byte();
    const uint8_t nulls =
        !VELA_FUZZ_AVOID_NULLS && (flags & 0xF0) == kNullsTag ? (flags & 0x0F) : 0;
    j.farNull = nulls & 1;
    j.radiiNull = nulls & 2;
    j.meshNull = nulls & 4;
    j.farNodesNull = nulls & 8;
    std::array<double, 3> center{};
    j.center = DecodePoint(&center);
    for (int i = m_in.Count(kMaxFarPoints); i > 0; --i) {
      std::array<double, 3> exact{};
      j.far.Add(DecodePoint(&exact));
      j.farExact.push_back(exact);
    }
    j.farExact.insert(j.farExact.begin(), center);
    for (int i = m_in.Count(kMaxRadii); i > 0; --i) j.radii.Add(m_in.Double());
    j.innerShare = m_in.Double();
    j.outerShare = m_in.Double();
    Trace("junction: centre (%.9g, %.9g, %.9g), far %s, radii %s, shares %.17g %.17g%s%s%s%s\n",
          j.center.x, j.center.y, j.center.z, PointsText(j.farNull ? nullptr : &j.far).c_str(),
          ListText(j.radiiNull ? nullptr : &j.radii).c_str(), j.innerShare, j.outerShare,
          j.meshNull ? ", null mesh" : "", j.farNodesNull ? ", null far-node output" : "",
          j.farNull ? " (far list of the plain-array RunnerLength: " : "",
          j.farNull ? (PointsText(&j.far) + ")").c_str() : "");
    m_junction = std::move(j);
    ++m_junctionVersion;
  }

  bool TooMuchWork() const {
    const bool tooMuch =
        !m_settings.huge &&
        SectionNodes(m_settings) * std::max(m_junction.RunnerCount(), 1) > kWorkBudget;
    if (tooMuch) Trace("call skipped: too large for a fast run\n");
    return tooMuch;
  }

  void NConnect(bool withMesh) {
    if (TooMuchWork()) return;
    const Junction& j = m_junction;
    const int n = j.RunnerCount();
    std::vector<ON_3fPoint> farNodes(static_cast<size_t>(std::max(n, 1)),
                                     ON_3fPoint(kSentinel, kSentinel, kSentinel));
    ON_3fPoint* farNodeOut = j.farNodesNull ? nullptr : farNodes.data();
    CheckingMesh mesh;
    const char* call = withMesh ? "NConnectRunner" : "NConnectRunner (no mesh)";
    bool ok = false;
    try {
      ok = withMesh ? m_mapper.NConnectRunner(
                          j.center, j.farNull ? nullptr : &j.far, j.radiiNull ? nullptr : &j.radii,
                          j.innerShare, j.outerShare, j.meshNull ? nullptr : &mesh, farNodeOut)
                    : m_mapper.NConnectRunner(j.center, j.farNull ? nullptr : &j.far,
                                              j.radiiNull ? nullptr : &j.radii, j.innerShare,
                                              j.outerShare, farNodeOut);
    } catch (const std::invalid_argument& e) {
      Trace("%s threw std::invalid_argument: %s\n", call, e.what());
      return;
    }
    TraceAnswer(call, ok);
    if (ok && withMesh) TraceSize(mesh);
    CheckRefusal(ok, n, call);
    if (ok) {
      if (withMesh && j.meshNull) Fault(std::string(call) + " returned true with a null mesh");
      if (withMesh) CheckSound(mesh, call);
      for (int i = 0; i < n && farNodeOut; ++i) {
        const ON_3fPoint& p = farNodes[static_cast<size_t>(i)];
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z) || IsSentinel(p))
          Fault(std::string(call) + ": far node " + std::to_string(i) + " not finite or not set");
      }
      m_meshedOnce = true;
    } else {
      if (!mesh.Untouched()) Fault(std::string(call) + " returned false after writing to the mesh");
      for (const ON_3fPoint& p : farNodes)
        if (!IsSentinel(p)) Fault(std::string(call) + " returned false after writing a far node");
    }
    if (farNodeOut) CompareOverloads(withMesh, ok, farNodes);
  }

  // The mesh-less overload has the same refusals as the other, less the null
  // mesh, and sweeps the same branches: where the mesh overload meshed a
  // junction the other must too, and both must hand over the same far nodes.
  void CompareOverloads(bool withMesh, bool ok, const std::vector<ON_3fPoint>& farNodes) {
    NWayResult& mine = withMesh ? m_withMesh : m_withoutMesh;
    const NWayResult& other = withMesh ? m_withoutMesh : m_withMesh;
    mine = {true, m_settingsVersion, m_junctionVersion, ok, farNodes};
    if (!other.valid || other.settingsVersion != m_settingsVersion ||
        other.junctionVersion != m_junctionVersion)
      return;
    const NWayResult& meshed = withMesh ? mine : other;
    const NWayResult& swept = withMesh ? other : mine;
    if (meshed.ok && !swept.ok)
      Fault("NConnectRunner meshed a junction that its mesh-less overload refused");
    if (meshed.ok && swept.ok && !SameBits(meshed.farNodes, swept.farNodes))
      Fault("the two NConnectRunner overloads gave different far nodes");
  }

  void TwoConnect() {
    if (TooMuchWork()) return;
    const Junction& j = m_junction;
    CheckingMesh mesh;
    bool ok = false;
    try {
      ok = m_mapper.TwoConnectRunner(j.center, j.farNull ? nullptr : &j.far,
                                     j.radiiNull ? nullptr : &j.radii, j.innerShare, j.outerShare,
                                     j.meshNull ? nullptr : &mesh);
    } catch (const std::invalid_argument& e) {
      Trace("TwoConnectRunner threw std::invalid_argument: %s\n", e.what());
      return;
    }
    TraceAnswer("TwoConnectRunner", ok);
    if (ok) TraceSize(mesh);
    CheckRefusal(ok, j.RunnerCount(), "TwoConnectRunner");
    if (ok) {
      if (j.meshNull) Fault("TwoConnectRunner returned true with a null mesh");
      CheckSound(mesh, "TwoConnectRunner");
      m_meshedOnce = true;
    } else if (!mesh.Untouched()) {
      Fault("TwoConnectRunner returned false after writing to the mesh");
    }
  }

  std::pair<int, int> DecodeMargin() {
    const int a = m_in.Int();
    int b = m_in.Int();
    if (VELA_FUZZ_AVOID_MARGINS && a == INT_MIN && b == -1) b = 1;
    return {a, b};
  }

  // The radius of runner i for RunnerLength: the junction's list read
  // cyclically, or a fresh number when the list is empty.
  double RunnerRadius(int i) {
    const CArray<double, double>& radii = m_junction.radii;
    return radii.IsEmpty() ? m_in.Double() : radii.GetAt(i % radii.GetSize());
  }

  void LengthArrays() {
    const auto [a, b] = DecodeMargin();
    const std::vector<std::array<double, 3>>& rows = m_junction.farExact;
    const int n = static_cast<int>(rows.size());  // the centre and the far points
    // Exactly sized, so that AddressSanitizer sees a read or write past the n rows.
    std::vector<double> points(3 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      std::copy(rows[static_cast<size_t>(i)].begin(), rows[static_cast<size_t>(i)].end(),
                points.begin() + 3 * i);
    std::vector<double> radius(static_cast<size_t>(n), kSentinel);
    for (int i = 1; i < n; ++i) radius[static_cast<size_t>(i)] = RunnerRadius(i - 1);
    std::vector<double> out(static_cast<size_t>(n), kSentinel);
    Trace("RunnerLength(%d points, a %d, b %d)\n", n, a, b);
    m_mapper.RunnerLength(n, reinterpret_cast<const double(*)[3]>(points.data()), radius.data(), a,
                          out.data(), b);
    for (int i = 0; i < n; ++i)
      if ((b == 0 || i == 0) && out[static_cast<size_t>(i)] != kSentinel)
        Fault("RunnerLength (arrays) wrote out[" + std::to_string(i) +
              "] with b = " + std::to_string(b));
  }

  void LengthLists() {
    const auto [a, b] = DecodeMargin();
    const int n = m_junction.far.GetSize();
    const int outSize = m_in.Count(n + 1);
    const bool perRunner = m_in.Flag();
    CArray<double, double> radii;
    if (perRunner)
      for (int i = 0; i < n; ++i) radii.Add(RunnerRadius(i));
    else
      radii.Copy(m_junction.radii);
    CArray<double, double> out;
    for (int i = 0; i < outSize; ++i) out.Add(kSentinel);
    Trace("RunnerLength(lists: radii %s, a %d, out of %d, b %d)\n", ListText(&radii).c_str(), a,
          outSize, b);
    try {
      m_mapper.RunnerLength(m_junction.center, &m_junction.far, &radii, a, &out, b);
    } catch (const std::invalid_argument& e) {
      Trace("RunnerLength threw std::invalid_argument: %s\n", e.what());
      return;
    }
    if (b == 0 || n == 0)
      for (int i = 0; i < outSize; ++i)
        if (out.GetAt(i) != kSentinel)
          Fault("RunnerLength (lists) wrote out[" + std::to_string(i) +
                "] with b = " + std::to_string(b) + " and " + std::to_string(n) + " far points");
  }

  // A first ring and ring count whose cross-section needs more nodes than an
  // int numbers; from here on the harness keeps these settings.
  void Huge() {
    static const int kFirstRings[] = {100000, 1 << 20, 1 << 24, INT_MAX - 1, 46342, 1 << 16};
    const int firstRing = kFirstRings[m_in.Byte() % (sizeof kFirstRings / sizeof kFirstRings[0])];
    const int extraRings = m_in.Count(3);
    const bool withLayers = m_in.Flag();
    if (VELA_FUZZ_AVOID_HUGE || m_settings.huge) return;
    Settings s;
    s.firstRing = firstRing;
    s.innerCount = 1;
    s.outerCount = withLayers ? 2 : 0;
    s.huge = true;
    while (SectionNodes(s) <= INT_MAX) ++s.innerCount;
    s.innerCount += extraRings;
    CArray<double, double> inner, outer;
    for (int i = 0; i <= s.innerCount; ++i) inner.Add(static_cast<double>(i) / s.innerCount);
    if (withLayers)
      for (double v : {0.0, 0.5, 1.0}) outer.Add(v);
    Trace("huge: first ring %d, %d rings, %d layers\n", s.firstRing, s.innerCount, s.outerCount);
    if (!m_mapper.SetFirstCircleNodeCount(s.firstRing) ||
        !m_mapper.SetIOBoundaryLayer(&inner, &outer))
      Fault("a setter refused a valid huge setting");
    m_settings = s;
    ++m_settingsVersion;
  }

  ByteReader& m_in;
  CVelaRunnerMapping m_mapper;
  Settings m_settings;
  Junction m_junction;
  int m_settingsVersion = 0, m_junctionVersion = 0;
  NWayResult m_withMesh, m_withoutMesh;
  bool m_meshedOnce = false;
};

bool ExpectMeshed() {
  static const bool expect = EnvironmentSays("VELA_FUZZ_EXPECT_MESHED");
  return expect;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ByteReader in(data, size);
  Session session(in);
  const bool meshed = session.Run();
  if (ExpectMeshed() && !meshed) Fault("no junction call of this input returned true");
  return 0;
}
