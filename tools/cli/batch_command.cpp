#include "batch_command.h"

#include "commands.h"
#include "file_text.h"
#include "junction_file.h"
#include "system_command.h"
#include "system_file.h"

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <ostream>
#include <sstream>
#include <utility>

namespace vela::cli {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// One file of the folder, from reading to its row.
struct Entry {
  fs::path file;
  std::optional<io::JunctionFile> junction;
  std::optional<vela::system::RunnerNetwork> network;
  std::string units;  // a system file's
  bool systemKeys = false;  // the file has a system file's keys, readable or not
  bool read = false;        // the file was read as one kind or the other
  std::vector<std::string> outputs;
  int status = kDone;
  std::string error;  // what went wrong, as the subcommands say it
  nlohmann::ordered_json summary;
};

std::vector<fs::path> InputFiles(const std::string& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    const std::string name = Lower(entry.path().filename().string());
    const bool json = name.size() > 5 && name.compare(name.size() - 5, 5, ".json") == 0;
    const bool dump = name.size() > 10 && name.compare(name.size() - 10, 10, ".mesh.json") == 0;
    if (json && !dump && entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Reads the file as a junction or a system file, by its keys.
void ReadEntry(Entry& e) {
  const std::string path = e.file.string();
  try {
    const nlohmann::json keys = nlohmann::json::parse(io::detail::ReadWholeFile(path), nullptr, false);
    const auto has = [&keys](const char* key) { return keys.is_object() && keys.contains(key); };
    e.systemKeys = !keys.is_discarded() && (has("points") || has("runners"));
    if (keys.is_discarded()) e.junction = io::ReadJunctionFile(path);  // throws, naming the JSON problem
    else if (e.systemKeys) e.network = io::ReadSystemFile(path, e.units);
    else if (has("center") || has("far_points")) e.junction = io::ReadJunctionFile(path);
    else e.error = io::detail::Printable(path) +
                   ": neither a junction file (center, far_points) nor a system file (points, runners)\n";
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception& e2) {
    e.error = std::string(e2.what()) + "\n";
  }
  if (!e.error.empty()) e.status = kBadInput;
  e.read = e.error.empty();
}

// The row of a file that could not be read: in the system table when it has
// a system file's keys, else in the junction table, with the first line of
// what was wrong, so that the table accounts for every file of the folder.
std::string UnreadRow(const Entry& e) {
  std::string error = e.error.substr(0, e.error.find('\n'));
  // The line starts with the file's path, which the row's label already gives.
  const std::string path = io::detail::Printable(e.file.string()) + ": ";
  if (error.compare(0, path.size(), path) == 0) error.erase(0, path.size());
  std::ostringstream row;
  row << std::left << std::setw(e.systemKeys ? 14 : 18) << io::detail::Printable(e.file.stem().string())
      << "  not read: " << error << "\n";
  return row.str();
}

// The outputs of a file, and the names it takes in outDir (a system's .vtu
// takes its .patches.vtu too; an OpenFOAM case the folder STEM/).
std::vector<std::string> OutputsOf(const Entry& e, const std::string& outDir,
                                   const std::vector<std::string>& formats, std::vector<std::string>& taken) {
  const std::string stem = e.file.filename().string().substr(0, e.file.filename().string().size() - 5);
  std::vector<std::string> outputs;
  for (const std::string& format : formats) {
    const std::string name = stem + (format == "json" ? ".mesh.json" : format == "foam" ? "" : "." + format);
    outputs.push_back((fs::path(outDir) / name).string() + (format == "foam" ? "/" : ""));
    taken.push_back(name);
    if (e.network && format == "vtu") taken.push_back(stem + ".patches.vtu");
  }
  return outputs;
}

// Sets every readable file's outputs; the names two files would share, one
// line each, or "".
std::string AssignOutputs(std::vector<Entry>& entries, const std::string& outDir,
                          const std::vector<std::string>& formats) {
  std::map<std::string, std::string> owner;
  std::set<std::pair<std::string, std::string>> told;
  std::string clashes;
  for (Entry& e : entries) {
    if (e.status != kDone) continue;
    std::vector<std::string> taken;
    e.outputs = OutputsOf(e, outDir, formats, taken);
    for (const std::string& name : taken) {
      const auto [it, fresh] = owner.emplace(Lower(name), e.file.filename().string());
      if (!fresh && told.emplace(it->second, e.file.filename().string()).second)
        clashes += io::detail::Printable((fs::path(outDir) / name).string()) + ": both " +
                   io::detail::Printable(it->second) + " and " + io::detail::Printable(e.file.filename().string()) +
                   " would write it; nothing was written\n";
    }
  }
  return clashes;
}

// Meshes one readable file; its row goes to rows in the text summary.
void MeshEntry(Entry& e, const RunOptions& options, std::ostream& rows) {
  const std::string stem = e.file.stem().string();
  std::ostringstream said;
  if (e.junction) {
    const JunctionRun r = MeshAndWriteJunction(*e.junction, e.outputs, options, said, said);
    e.status = r.status;
    if (r.meshed.ok && r.status != kBadInput) e.summary = JunctionSummaryJson(*e.junction, r, e.outputs);
    if (options.summary == SummaryStyle::Text) rows << JunctionTableRow(stem, *e.junction, r) << std::flush;
  } else {
    const SystemRun r = MeshAndWriteSystem(stem, *e.network, e.units, 0, e.outputs, options, said);
    e.status = r.status;
    e.summary = r.summary;
    if (options.summary == SummaryStyle::Text) rows << r.row << std::flush;
  }
  e.error = said.str();
}

// Meshes the junctions, then the systems, each kind under its table header.
void MeshAll(std::vector<Entry>& entries, RunOptions options, std::ostream& out, std::ostream& err) {
  Progress progress(err, options.progress && options.summary != SummaryStyle::Text);
  options.progress = false;
  const int total = static_cast<int>(entries.size());
  int done = 0;
  for (const bool systems : {false, true}) {
    bool headed = false;
    for (Entry& e : entries) {
      const bool unread = !e.read;
      if ((unread ? e.systemKeys : e.network.has_value()) != systems) continue;
      if (!headed && options.summary == SummaryStyle::Text)
        out << (systems && done > 0 ? "\n" : "") << (systems ? SystemTableHeader() : JunctionTableHeader());
      headed = true;
      progress.Show("meshing the files", done++, total);
      if (!unread) MeshEntry(e, options, out);
      else if (options.summary == SummaryStyle::Text) out << UnreadRow(e) << std::flush;
    }
  }
}

nlohmann::ordered_json BatchJson(const std::string& dir, const std::string& outDir, const std::vector<Entry>& entries,
                                 int failed, int status) {
  nlohmann::ordered_json files = nlohmann::ordered_json::array();
  for (const Entry& e : entries) {
    const char* type = e.junction ? "junction" : e.network ? "system" : nullptr;
    files.push_back({{"file", e.file.string()},
                     {"type", type ? nlohmann::ordered_json(type) : nlohmann::ordered_json()},
                     {"status", e.status},
                     {"summary", e.summary},
                     {"error", e.error.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(e.error)}});
  }
  return {{"folder", dir}, {"output_folder", outDir}, {"files", files}, {"failed", failed}, {"status", status}};
}

// The failures, each file with its status and what was said about it.
std::string FailureList(const std::vector<Entry>& entries, int failed) {
  std::ostringstream s;
  s << failed << " of " << entries.size() << " files failed:\n";
  for (const Entry& e : entries) {
    if (e.status == kDone) continue;
    s << "  " << io::detail::Printable(e.file.filename().string()) << " (status " << e.status << ")\n";
    std::istringstream lines(e.error);
    for (std::string line; std::getline(lines, line);) s << "    " << line << "\n";
  }
  return s.str();
}

}  // namespace

int RunBatch(const std::string& dir, const std::string& outDir, const std::vector<std::string>& formats,
             const RunOptions& options, std::ostream& out, std::ostream& err) {
  if (const std::string problem = LimitsProblem(options.limits); !problem.empty()) {
    err << problem << "\n";
    return kBadInput;
  }
  std::error_code listed;
  if (!fs::is_directory(dir, listed)) {
    err << io::detail::Printable(dir) << ": not a folder\n";
    return kBadInput;
  }
  std::vector<Entry> entries;
  for (const fs::path& file : InputFiles(dir)) {
    Entry entry;
    entry.file = file;
    entries.push_back(std::move(entry));
  }
  if (entries.empty()) {
    err << io::detail::Printable(dir) << ": no .json files to mesh\n";
    return kBadInput;
  }
  for (Entry& e : entries) ReadEntry(e);
  const std::vector<std::string> all = {"json", "vtu", "msh", "svg"};
  if (const std::string clashes = AssignOutputs(entries, outDir, formats.empty() ? all : formats); !clashes.empty()) {
    err << clashes;
    return kBadInput;
  }
  if (!MakeFolder(outDir, err)) return kWriteFailed;
  MeshAll(entries, options, out, err);
  int status = kDone, failed = 0;
  for (const Entry& e : entries) {
    status = std::max(status, e.status);
    failed += e.status != kDone;
  }
  if (options.summary == SummaryStyle::Json) out << BatchJson(dir, outDir, entries, failed, status).dump() << "\n";
  if (failed > 0) err << FailureList(entries, failed);
  return status;
}

}  // namespace vela::cli
