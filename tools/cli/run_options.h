#pragma once

// What the meshing subcommands share: their exit statuses, the options that
// shape their output, the check of the output names, the element counts as
// JSON, and the progress line of long runs. The quality report's JSON is the
// report's own (quality_json.h): the Python module prints it too.

#include "mesh_file.h"
#include "channel.h"
#include "quality.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace vela::cli {

// Exit statuses; a batch exits with the highest of its files.
constexpr int kDone = 0;
constexpr int kWriteFailed = 1;
constexpr int kBadInput = 2;
constexpr int kFaults = 3;

struct ViewDirection {
  double azimuthDeg = -35.0;    // about the vertical axis, from +x
  double elevationDeg = 30.0;   // above the horizontal plane
};

enum class SummaryStyle {
  Text,   // a few lines for a reader
  Quiet,  // nothing but the errors
  Json    // one JSON object on the output stream, for scripts
};

struct RunOptions {
  ViewDirection view;
  // The format of the output "-" (json, vtu, msh or svg), or foam: every
  // output without a mesh extension is then an OpenFOAM case folder.
  std::string format;
  // --units: the length unit of every output; "" writes each in the input
  // file's unit, but an OpenFOAM case in metres, the unit its solvers take.
  std::string units;
  SummaryStyle summary = SummaryStyle::Text;
  io::WriteOptions write;
  // A progress line on the error stream once a run has taken progressAfter.
  // vela-mesh turns it on only when the error stream is a terminal and
  // --quiet was not given: in a log the rewritten line is noise.
  bool progress = true;
  std::chrono::milliseconds progressAfter{1000};
  // What the mesh is judged by beyond its soundness: checkMesh's thresholds
  // and the scaled-Jacobian floor (--min-sj). A mesh beyond any is a fault.
  quality::Limits limits;
  // --memory-limit: the bytes a junction or a system may take, by the
  // estimate made before meshing; 0 for no bound; below 0 half the
  // machine's memory (host::DefaultMemoryLimit).
  double memoryLimit = -1.0;
  // --as-constructed: the mesh exactly as the class constructs it, instead
  // of the improved one (mitred bends, sections on the channel, smoothed).
  bool asConstructed = false;
  // --max-wall: how far, as a share of the local radius, a node may lie
  // outside the channel the runners are machined to; beyond it the wall is
  // a fault. Below 0 the wall is reported but not judged.
  double maxWall = 0.02;
};

// Whether the wall lies further outside the channel than options allow.
bool WallOutside(const quality::WallReport& wall, const RunOptions& options);
// The fault's words: how far out, where, and the bound.
std::string WallFault(const quality::WallReport& wall, const RunOptions& options);

// The bytes a --memory-limit names: a number with an optional K, M, G or T
// (powers of 1024, a trailing B or iB allowed: 512M, 4GiB, 1.5G), 0 for no
// bound. False, with why in problem, for anything else.
bool ParseMemorySize(const std::string& text, double& bytes, std::string& problem);

// Why the limits cannot judge anything, or "": a scaled-Jacobian floor that
// is not a number from -1 to 1 (the range of the score).
std::string LimitsProblem(const quality::Limits& limits);

// The output name that stands for the output stream.
bool IsStandardOutput(const std::string& path);

// Whether the output is an OpenFOAM case folder: a path that ends in '/',
// or, with --format foam, one without a mesh file's extension.
bool IsCaseFolder(const std::string& path, const RunOptions& options);

// The extension an output is written in: the path's own, lower case, or
// --format's for "-".
std::string OutputExtension(const std::string& path, const RunOptions& options);

// The unit an output is written in: --units, else the input file's, but
// metres for an OpenFOAM case.
std::string OutputUnits(const std::string& path, const std::string& fileUnits, const RunOptions& options);

// Why the outputs cannot be written as asked, or "": an extension other than
// .json, .vtu, .msh and .svg on an output that is not a case folder; "-"
// given twice, or without a --format of json, vtu, msh or svg, or together
// with a JSON summary (both want the output stream); a --format other than
// foam without "-"; a --units MetresPerUnit does not know.
std::string OutputsProblem(const std::vector<std::string>& outputs, const RunOptions& options);

// Where the text summary goes: the error stream when the mesh itself goes
// to the output stream.
std::ostream& SummaryStream(const std::vector<std::string>& outputs, std::ostream& out, std::ostream& err);

// The mesh's element counts by kind: {"tetra", "pyramid", "prism", "hexa"}.
nlohmann::ordered_json ByKindJson(const MemoryMesh& mesh);

// The wall against the channel, for the summaries: "wall: 0.53 outside the
// channel at most, 26.6 % of the local radius (node 120)", or within it; the
// same as JSON, and as the tables' percentage.
std::string WallLine(const quality::WallReport& wall);
nlohmann::ordered_json WallJson(const quality::WallReport& wall);
std::string WallPercent(const quality::WallReport& wall);

// Creates the output folder (and its parents); false, after one line on err
// naming it, when it cannot be made.
bool MakeFolder(const std::string& dir, std::ostream& err);

// "what: done of total" on the error stream, rewritten in place, once the
// run has taken longer than after (a second): a quick run prints nothing.
// The line is closed when the object goes, or before a message is printed
// through it.
class Progress {
public:
  Progress(std::ostream& err, bool enabled, std::chrono::milliseconds after = std::chrono::seconds(1));
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  void Show(const std::string& what, int done, int total);
  // Show as a callback, for the runner system's BuildOptions::progress.
  std::function<void(int, int)> Callback(std::string what);
  // Text on the error stream, on a line of its own.
  void Print(const std::string& text);

private:
  std::ostream& m_err;
  std::chrono::steady_clock::time_point m_start;
  std::chrono::milliseconds m_after;
  bool m_enabled;
  std::size_t m_width = 0;  // of the line shown last, to blank what a shorter one leaves
  bool m_lineOpen = false;
};

}  // namespace vela::cli
