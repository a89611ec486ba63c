#pragma once

// The subcommands of vela-mesh, as functions that print to the given streams
// and return the process exit status:
//   0  done;
//   1  a file could not be written;
//   2  bad input: a wrong command line, a junction or mesh file that cannot
//      be read, an output of unknown format, or a junction the library refuses;
//   3  the mesh was written but has inverted elements or faces shared by
//      more than two elements (named on the error stream).

#include <iosfwd>
#include <string>
#include <vector>

namespace vela::cli {

struct ViewDirection {
  double azimuthDeg = -35.0;    // about the vertical axis, from +x
  double elevationDeg = 30.0;   // above the horizontal plane
};

// Meshes FILE and writes it to each output (.json, .vtu, .msh, .svg by
// extension), with a one-screen summary. Every output name is checked before
// anything is meshed or written.
int RunJunction(const std::string& file, const std::vector<std::string>& outputs,
                const ViewDirection& view, std::ostream& out, std::ostream& err);

// Prints the runner lengths of FILE: a table, or {"lengths": [...]}.
int RunLength(const std::string& file, bool json, std::ostream& out, std::ostream& err);

// Prints the quality report of a .json, .vtu or .msh mesh. mergeTol <= 0
// takes a millionth of the mesh's bounding-box diagonal.
int RunCheck(const std::string& meshFile, double mergeTol, std::ostream& out, std::ostream& err);

// Meshes every shipped example junction (or those in examplesDir, when not
// empty) and writes each in every format plus a picture into outDir, then
// prints one summary table.
int RunDemo(const std::string& outDir, const std::string& examplesDir, const ViewDirection& view,
            std::ostream& out, std::ostream& err);

}  // namespace vela::cli
