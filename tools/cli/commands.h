#pragma once

// The subcommands of vela-mesh, as functions that print to the given streams
// and return the process exit status:
//   0  done;
//   1  a file could not be written;
//   2  bad input: a wrong command line or option value, a junction or mesh
//      file that cannot be read, an output of unknown format, a junction the
//      library refuses (one line with the reason), or one too large for the
//      memory;
//   3  the mesh has faults, one line per fault class on the error stream
//      (see quality.h); it was written, unless the library handed over
//      coordinates that are not finite, which no file format can hold.

#include "junction_mesher.h"
#include "quality.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace vela::cli {

struct ViewDirection {
  double azimuthDeg = -35.0;    // about the vertical axis, from +x
  double elevationDeg = 30.0;   // above the horizontal plane
};

// Meshes FILE and writes it to each output (.json, .vtu, .msh, .svg by
// extension), with a one-screen summary. Every output name and the view are
// checked before anything is meshed or written: angles must be finite.
int RunJunction(const std::string& file, const std::vector<std::string>& outputs,
                const ViewDirection& view, std::ostream& out, std::ostream& err);

// Prints the runner lengths of FILE: a table, or {"lengths": [...]}.
int RunLength(const std::string& file, bool json, std::ostream& out, std::ostream& err);

// Prints the quality report of a .json, .vtu or .msh mesh. mergeTol is the
// distance within which two nodes count as coincident; without one,
// quality::DefaultTolerance, as `junction` takes. A negative or non-finite
// mergeTol is bad input.
int RunCheck(const std::string& meshFile, std::optional<double> mergeTol, std::ostream& out,
             std::ostream& err);

// Meshes every shipped example junction (or those in examplesDir, when not
// empty) and writes each in every format plus a picture into outDir, then
// prints one summary table; then the same for the example runner systems
// (RunSystemDemo in system_command.h).
int RunDemo(const std::string& outDir, const std::string& examplesDir, const ViewDirection& view,
            std::ostream& out, std::ostream& err);

// What the meshing subcommands do with the library's answer: the refusal
// line; or the quality report into report, the files, and a line per fault.
// Returns the exit status. Public so that the tests can hand it answers the
// library should never give.
int WriteMeshed(const io::JunctionFile& junction, const MeshedJunction& meshed,
                const std::vector<std::string>& outputs, const ViewDirection& view,
                quality::QualityReport& report, std::ostream& err);

}  // namespace vela::cli
