#pragma once

// The subcommands of vela-mesh, as functions that print to the given streams
// and return the process exit status (run_options.h):
//   0  done;
//   1  a file could not be written;
//   2  bad input: a wrong command line or option value, a junction or mesh
//      file that cannot be read, an output of unknown format, a junction the
//      library refuses (one line with the reason), or one too large for the
//      memory;
//   3  the mesh has faults, one line per fault class on the error stream
//      (see quality.h), or lies beyond the limits of RunOptions::limits
//      (poor cells under the scaled-Jacobian floor, the cells and faces
//      checkMesh would flag); it was written, unless the library handed over
//      coordinates that are not finite, which no file format can hold.

#include "junction_mesher.h"
#include "quality.h"
#include "run_options.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vela::cli {

// Meshes FILE and writes it to each output (.json, .vtu, .msh, .svg by
// extension; "-" for the output stream in options.format), with a summary
// in options.summary's style: the text one goes to err when the mesh goes to
// out. No outputs: the summary alone. Every output name and the view are
// checked before anything is meshed or written: angles must be finite.
int RunJunction(const std::string& file, const std::vector<std::string>& outputs,
                const RunOptions& options, std::ostream& out, std::ostream& err);

// Prints the runner lengths of FILE: a table, or {"lengths": [...]}.
int RunLength(const std::string& file, bool json, std::ostream& out, std::ostream& err);

// Prints the quality report of a .json, .vtu or .msh mesh (a table, nothing,
// or one JSON object, by summary), judged by limits. mergeTol is the distance
// within which two nodes count as coincident; without one,
// quality::DefaultTolerance, as `junction` takes. A negative or non-finite
// mergeTol, or limits LimitsProblem refuses, are bad input.
int RunCheck(const std::string& meshFile, std::optional<double> mergeTol, SummaryStyle summary,
             std::ostream& out, std::ostream& err, const quality::Limits& limits = {});

// Meshes every shipped example junction (or those in examplesDir, when not
// empty) and writes each in every format plus a picture into outDir, then
// prints one summary table; then the same for the example runner systems
// (RunSystemDemo in system_command.h).
// Of given, the view, the floors and the construction count.
int RunDemo(const std::string& outDir, const std::string& examplesDir, const RunOptions& given, std::ostream& out,
            std::ostream& err);

// One junction meshed, checked and written.
struct JunctionRun {
  int status = kDone;
  MeshedJunction meshed;
  quality::QualityReport report;
  quality::WallReport wall;  // the mesh against the channel its runners are machined to
  bool wallFault = false;    // the wall lies further outside it than --max-wall allows
  bool written = false;  // every output was written
};

// Meshes, checks and writes one junction; the output "-" goes to data,
// messages to err. A junction too large for the memory is bad input.
JunctionRun MeshAndWriteJunction(const io::JunctionFile& junction, const std::vector<std::string>& outputs,
                                 const RunOptions& options, std::ostream& data, std::ostream& err);

// The demo's and the batch's table of junctions: its header, and the row of
// one junction, labelled as given.
std::string JunctionTableHeader();
std::string JunctionTableRow(const std::string& label, const io::JunctionFile& junction, const JunctionRun& run);

// The summary of one junction as one JSON object.
nlohmann::ordered_json JunctionSummaryJson(const io::JunctionFile& junction, const JunctionRun& run,
                                           const std::vector<std::string>& outputs);

// What the meshing subcommands do with the library's answer: the refusal
// line; or the quality report into report, the outputs ("-" into data), and
// a line per fault. Returns the exit status. Public so that the tests can
// hand it answers the library should never give.
int WriteMeshed(const io::JunctionFile& junction, const MeshedJunction& meshed,
                const std::vector<std::string>& outputs, const RunOptions& options,
                quality::QualityReport& report, std::ostream& data, std::ostream& err);

}  // namespace vela::cli
