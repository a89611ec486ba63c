// vela-mesh: mesh, check and look at a runner junction from the command line.

#include "commands.h"
#include "file_text.h"
#include "system_command.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <exception>
#include <iostream>
#include <limits>
#include <new>

namespace {

constexpr int kBadInput = 2;

int Run(int argc, char** argv) {
  CLI::App app{"vela-mesh: meshes the junction of round runners or a whole runner system, checks meshes and\n"
                "draws them.\n"
                "Without a subcommand it runs the demo into out/."};
  app.require_subcommand(0, 1);

  vela::cli::ViewDirection view;
  auto addView = [&view](CLI::App* command) {
    command->add_option("--azimuth", view.azimuthDeg, "picture: viewer's angle about z from +x, degrees")
        ->capture_default_str();
    command->add_option("--elevation", view.elevationDeg, "picture: viewer's height above the xy-plane, degrees")
        ->capture_default_str();
  };

  std::string junctionFile;
  std::vector<std::string> outputs;
  CLI::App* junction = app.add_subcommand("junction", "mesh a junction file into .json, .vtu, .msh or .svg files");
  junction->add_option("FILE", junctionFile, "junction file (JSON)")->required();
  junction->add_option("-o,--output", outputs, "output files; the format follows the extension")->required();
  addView(junction);

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

  std::string systemFile;
  int threads = 0;
  CLI::App* system = app.add_subcommand(
      "system", "mesh a whole runner system file into one mesh with patches (.json, .vtu, .msh, .svg)");
  system->add_option("FILE", systemFile, "system file (JSON)")->required();
  system->add_option("-o,--output", outputs, "output files; the format follows the extension")->required();
  system->add_option("--threads", threads, "junctions and bends meshed at once; 0: one per hardware thread")
      ->check(CLI::NonNegativeNumber)
      ->capture_default_str();

  std::string outDir = "out", examplesDir;
  CLI::App* demo = app.add_subcommand(
      "demo", "mesh the shipped example junctions and runner systems into every format and a picture");
  demo->add_option("-o,--output", outDir, "folder for the files")->capture_default_str();
  demo->add_option("--examples", examplesDir,
                   "mesh the junction files of this folder (and the system files of its systems/ folder) instead");
  addView(demo);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help is a parse "error" that exits 0; a wrong command line is bad input.
    return app.exit(e) == 0 ? 0 : kBadInput;
  }

  vela::io::detail::RemoveTemporaryFilesOnInterrupt();
  if (*junction) return vela::cli::RunJunction(junctionFile, outputs, view, std::cout, std::cerr);
  if (*system) return vela::cli::RunSystem(systemFile, outputs, threads, std::cout, std::cerr);
  if (*length) return vela::cli::RunLength(junctionFile, json, std::cout, std::cerr);
  if (*check)
    return vela::cli::RunCheck(meshFile, tolOption->count() > 0 ? std::optional<double>(tol) : std::nullopt,
                               std::cout, std::cerr);
  return vela::cli::RunDemo(outDir, examplesDir, view, std::cout, std::cerr);
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
