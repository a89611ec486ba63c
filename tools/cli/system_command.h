#pragma once

// `vela-mesh system`: a whole runner network, from a system file
// (system_file.h) into one mesh with boundary patches (system_mesh_file.h).
// Exit statuses as for the other subcommands (commands.h): 0 done; 1 a file
// could not be written; 2 bad input: an unknown output format, a system file
// that cannot be read, a network the runner system layer refuses (one line
// with the reason's name and message), or one too large for the memory; 3 the
// mesh has faults (written all the same when it can be).

#include "run_options.h"
#include "runner_system.h"

#include <nlohmann/json.hpp>

#include <iosfwd>
#include <string>
#include <vector>

namespace vela::cli {

// Meshes the system file and writes it to each output (.json, .vtu with
// NAME.patches.vtu beside it, .msh, .svg, by extension; an OpenFOAM case
// into a case folder (run_options.h); "-" for out in options.format, the
// volume file alone for vtu), each in its unit (OutputUnits), then prints a summary in
// options.summary's style: what the network is made of, nodes, elements by
// kind, patches with their face counts, the quality verdict, the files
// written. threads meshes that many junctions and bends at once (0: the
// hardware's count). Once the meshing has taken longer than a second, its
// progress goes to err. Every output name is checked before anything is
// meshed.
int RunSystem(const std::string& file, const std::vector<std::string>& outputs, int threads,
              std::ostream& out, std::ostream& err, const RunOptions& options = {});

// The demo's share: meshes every shipped example system (those of
// examplesDir/systems instead, when examplesDir is not empty and has such a
// folder) into outDir/systems as NAME.mesh.json, NAME.vtu, NAME.patches.vtu,
// NAME.msh and NAME.svg, and prints one table.
// Of given, the floors and the construction count; the demo shows no
// progress line, its rows being the progress.
int RunSystemDemo(const std::string& outDir, const std::string& examplesDir, std::ostream& out,
                  std::ostream& err, const RunOptions& given = {});

// One system meshed and written, as a table row labelled as given and as a
// JSON summary (null when it was not meshed).
struct SystemRun {
  int status = kDone;
  std::string row;
  nlohmann::ordered_json summary;
};

// Meshes, checks and writes one network to files (no "-"), its lengths in
// units (the system file's); messages go to err.
SystemRun MeshAndWriteSystem(const std::string& label, const vela::system::RunnerNetwork& network,
                             const std::string& units, int threads, const std::vector<std::string>& outputs,
                             const RunOptions& options, std::ostream& err);

// The header of the demo's and the batch's table of systems.
std::string SystemTableHeader();

}  // namespace vela::cli
