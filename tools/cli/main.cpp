// vela-mesh: mesh, check and look at a runner junction from the command line.

#include "batch_command.h"
#include "commands.h"
#include "file_text.h"
#include "system_command.h"

#include <CLI/CLI.hpp>

#include <unistd.h>

#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <new>

namespace {

using vela::cli::kBadInput;
using vela::cli::RunOptions;
using vela::cli::SummaryStyle;

const std::vector<std::string> kFormats = {"json", "vtu", "msh", "svg"};
const std::vector<std::string> kOutputFormats = {"json", "vtu", "msh", "svg", "foam"};
const std::vector<std::string> kUnits = {"mm", "cm", "m", "in"};

// The options every subcommand that writes or reports shares.
struct Shared {
  RunOptions options;
  bool quiet = false, json = false, ascii = false, binary = false;
  std::string memoryLimit;  // as given; empty: the default bound
  double maxWallPercent = 2.0;

  RunOptions Resolved() const {
    RunOptions resolved = options;
    resolved.summary = json ? SummaryStyle::Json : quiet ? SummaryStyle::Quiet : SummaryStyle::Text;
    // A rewritten line belongs on a terminal; in a log or a pipe it is noise.
    resolved.progress = !quiet && ::isatty(STDERR_FILENO) == 1;
    resolved.write.encoding = ascii    ? vela::io::Encoding::Ascii
                              : binary ? vela::io::Encoding::Binary
                                       : vela::io::Encoding::Default;
    resolved.maxWall = maxWallPercent < 0.0 ? -1.0 : maxWallPercent / 100.0;
    return resolved;
  }
};

void AddView(CLI::App* command, vela::cli::ViewDirection& view) {
  command->add_option("--azimuth", view.azimuthDeg, "picture: viewer's angle about z from +x, degrees")
      ->capture_default_str();
  command->add_option("--elevation", view.elevationDeg, "picture: viewer's height above the xy-plane, degrees")
      ->capture_default_str();
}

void AddSummary(CLI::App* command, Shared& shared) {
  CLI::Option* quiet = command->add_flag("-q,--quiet", shared.quiet, "no summary: only errors, on standard error");
  command->add_flag("--json", shared.json, "the summary as one JSON object on standard output, for scripts")
      ->excludes(quiet);
}

// Only the floor is the user's to set: checkMesh's thresholds are what the
// solver's users meet, whatever this tool is told.
void AddFloor(CLI::App* command, Shared& shared) {
  command
      ->add_option("--min-sj", shared.options.limits.minScaledJacobian,
                   "scaled-Jacobian floor, -1 to 1: a sound element under it is a poor cell, a fault")
      ->capture_default_str();
}

void AddEncoding(CLI::App* command, Shared& shared) {
  CLI::Option* ascii = command->add_flag("--ascii", shared.ascii, ".vtu, .msh and OpenFOAM cases as text");
  command->add_flag("--binary", shared.binary,
                    ".vtu and .msh in binary (default: binary .vtu, compressed with zlib, text .msh, binary "
                    "OpenFOAM cases)")
      ->excludes(ascii);
  command->add_option("--units", shared.options.units,
                      "the length unit of every output, scaled from the input file's (default: the file's, "
                      "metres for OpenFOAM cases)")
      ->check(CLI::IsMember(kUnits));
}

// What the meshing commands add to the floor: the wall against the channel,
// and the construction to mesh by.
void AddMeshing(CLI::App* command, Shared& shared) {
  command
      ->add_option("--max-wall", shared.maxWallPercent,
                   "how far a node may lie outside the channel the runners are machined to, in percent of the "
                   "local radius, before the wall is a fault; -1: reported, not judged")
      ->capture_default_str();
  command->add_flag("--as-constructed", shared.options.asConstructed,
                    "the mesh exactly as the library's class constructs it, not the improved one (mitred bends, "
                    "walls on the channel, smoothed cells)");
}

void AddMemoryLimit(CLI::App* command, Shared& shared) {
  command->add_option("--memory-limit", shared.memoryLimit,
                      "the most memory a junction or system may take by its estimate, made before meshing: "
                      "bytes with K, M, G or T (512M, 4G); 0 for no bound (default: half the machine's memory)");
}

void AddMeshOutputs(CLI::App* command, std::vector<std::string>& outputs, Shared& shared, const char* vtuNote) {
  command->add_option("-o,--output", outputs,
                      "output file, again for more; the extension names the format (.json, .vtu, .msh, .svg); "
                      "a folder (DIR/) for an OpenFOAM case; - for standard output in --format; none: the "
                      "summary only");
  command->add_option("--format", shared.options.format,
                      std::string("the format of -o -") + vtuNote +
                          "; foam: every output without a mesh extension is an OpenFOAM case folder")
      ->check(CLI::IsMember(kOutputFormats));
  AddSummary(command, shared);
  AddEncoding(command, shared);
}

int Run(int argc, char** argv) {
  CLI::App app{"vela-mesh: meshes the junction of round runners or a whole runner system, checks meshes and\n"
               "draws them.\n"
               "Without a subcommand it runs the demo into out/.\n"
               "Exit status: 0 done; 1 a file could not be written; 2 bad input (command line, file, a refused\n"
               "junction or system); 3 the mesh has faults, poor cells under --min-sj among them, cells and faces\n"
               "checkMesh flags, or a wall outside the channel by more than --max-wall. A batch exits with the\n"
               "highest of its files'."};
  app.set_version_flag("--version", std::string("vela-mesh ") + VELA_MESH_VERSION);
  app.require_subcommand(0, 1);

  Shared shared;
  std::string junctionFile;
  std::vector<std::string> outputs;
  CLI::App* junction = app.add_subcommand("junction", "mesh a junction file into .json, .vtu, .msh or .svg files");
  junction->add_option("FILE", junctionFile, "junction file (JSON)")->required();
  AddMeshOutputs(junction, outputs, shared, "");
  AddFloor(junction, shared);
  AddMeshing(junction, shared);
  AddMemoryLimit(junction, shared);
  AddView(junction, shared.options.view);

  bool json = false;
  CLI::App* length = app.add_subcommand("length", "print how far along each runner the junction reaches");
  length->add_option("FILE", junctionFile, "junction file (JSON)")->required();
  length->add_flag("--json", json, "print {\"lengths\": [...]}");

  std::string meshFile;
  double tol = std::numeric_limits<double>::quiet_NaN();
  CLI::App* check = app.add_subcommand("check", "print the quality report of a .json, .vtu or .msh mesh");
  check->add_option("MESH", meshFile, "mesh file")->required();
  CLI::Option* tolOption = check->add_option(
      "--tol", tol, "distance within which two nodes count as coincident, 0 or more (default: 1e-6 of the size)");
  AddSummary(check, shared);
  AddFloor(check, shared);

  std::string systemFile;
  int threads = 0;
  CLI::App* system = app.add_subcommand(
      "system", "mesh a whole runner system file into one mesh with patches (.json, .vtu, .msh, .svg)");
  system->add_option("FILE", systemFile, "system file (JSON)")->required();
  AddMeshOutputs(system, outputs, shared, "; for vtu the volume file alone");
  AddFloor(system, shared);
  AddMeshing(system, shared);
  AddMemoryLimit(system, shared);
  system->add_option("--threads", threads, "junctions and bends meshed at once; 0: one per hardware thread")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();

  std::string batchDir, batchOut;
  std::vector<std::string> batchFormats;
  CLI::App* batch = app.add_subcommand(
      "batch", "mesh every junction and system file of a folder into another, named after the files");
  batch->add_option("DIR", batchDir, "folder of junction and system files (.json)")->required();
  batch->add_option("-o,--output", batchOut, "folder for the files")->required();
  batch->add_option("--format", batchFormats,
                    "formats to write, again for more (default: json, vtu, msh, svg); foam: an OpenFOAM case "
                    "folder per file")
      ->check(CLI::IsMember(kOutputFormats));
  AddSummary(batch, shared);
  AddEncoding(batch, shared);
  AddFloor(batch, shared);
  AddMeshing(batch, shared);
  AddMemoryLimit(batch, shared);
  AddView(batch, shared.options.view);

  std::string outDir = "out", examplesDir;
  CLI::App* demo = app.add_subcommand(
      "demo", "mesh the shipped example junctions and runner systems into every format and a picture");
  demo->add_option("-o,--output", outDir, "folder for the files")->capture_default_str();
  demo->add_option("--examples", examplesDir,
                   "mesh the junction files of this folder (and the system files of its systems/ folder) instead");
  AddView(demo, shared.options.view);
  AddFloor(demo, shared);
  AddMeshing(demo, shared);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version are parse "errors" that exit 0; a wrong command line is bad input.
    return app.exit(e) == 0 ? 0 : kBadInput;
  }

  vela::io::detail::RemoveTemporaryFilesOnInterrupt();
  RunOptions options = shared.Resolved();
  if (!shared.memoryLimit.empty()) {
    std::string problem;
    if (!vela::cli::ParseMemorySize(shared.memoryLimit, options.memoryLimit, problem)) {
      std::cerr << problem << "\n";
      return kBadInput;
    }
  }
  if (*junction) return vela::cli::RunJunction(junctionFile, outputs, options, std::cout, std::cerr);
  if (*system) return vela::cli::RunSystem(systemFile, outputs, threads, std::cout, std::cerr, options);
  if (*batch) return vela::cli::RunBatch(batchDir, batchOut, batchFormats, options, std::cout, std::cerr);
  if (*length) return vela::cli::RunLength(junctionFile, json, std::cout, std::cerr);
  if (*check)
    return vela::cli::RunCheck(meshFile, tolOption->count() > 0 ? std::optional<double>(tol) : std::nullopt,
                               options.summary, std::cout, std::cerr, options.limits);
  return vela::cli::RunDemo(outDir, examplesDir, options, std::cout, std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
  // Whatever escapes a subcommand ends in one line and status 2, never in
  // an abort that leaves the user a core dump and no reason.
  try {
    return Run(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "vela-mesh: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "vela-mesh: " << e.what() << "\n";
  }
  return kBadInput;
}
