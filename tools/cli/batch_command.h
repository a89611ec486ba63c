#pragma once

// `vela-mesh batch DIR -o OUTDIR`: every junction file and every runner
// system file of a folder, meshed into another.
//
// The .json files of DIR (not its subfolders; names ending in .mesh.json are
// mesh dumps and skipped) are told apart by their keys: "center" or
// "far_points" make a junction file, "points" or "runners" a system file.
// Each is written as STEM.EXT for every format asked, STEM being the file's
// name without .json, never its "name" key: STEM.mesh.json for the .json
// dump, and beside a system's STEM.vtu its STEM.patches.vtu. Two files whose
// outputs would share a name (compared without regard to case, as some file
// systems compare them) are refused before anything is written. Otherwise
// every file that can be read is meshed, whatever became of the ones before
// it; the failures are listed at the end on err, and the status is the
// highest of the files' statuses (commands.h), 2 for a file that cannot be
// read or told apart, and 2 when DIR holds no .json file at all.

#include "run_options.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace vela::cli {

// formats: some of "json", "vtu", "msh", "svg"; empty for all four.
// options.summary: Text prints a table of the junctions and one of the
// systems, a row as each file is done; Json prints one object
// {"folder", "output_folder", "files": [{"file", "type", "status",
// "summary", "error"}], "failed", "status"}; Quiet prints nothing but the
// failures.
int RunBatch(const std::string& dir, const std::string& outDir, const std::vector<std::string>& formats,
             const RunOptions& options, std::ostream& out, std::ostream& err);

}  // namespace vela::cli
