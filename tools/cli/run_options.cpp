#include "run_options.h"

#include "file_text.h"
#include "length_unit.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <stdexcept>
#include <filesystem>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace vela::cli {

namespace {

constexpr const char* kExtensions[] = {".json", ".vtu", ".msh", ".svg"};

bool KnownExtension(const std::string& extension) {
  return std::find_if(std::begin(kExtensions), std::end(kExtensions),
                      [&](const char* known) { return extension == known; }) != std::end(kExtensions);
}

}  // namespace

bool ParseMemorySize(const std::string& text, double& bytes, std::string& problem) {
  problem = "--memory-limit: expected bytes as a number with K, M, G or T (512M, 4G), or 0 for no bound, got \"" +
            io::detail::Printable(text) + "\"";
  std::size_t end = 0;
  double number = 0;
  try {
    number = std::stod(text, &end);
  } catch (const std::exception&) {
    return false;
  }
  std::string unit = text.substr(end);
  std::transform(unit.begin(), unit.end(), unit.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  // 4G, 4GB and 4GiB all name the same: powers of 1024, as memory is sold.
  if (unit.size() == 3 && unit.compare(1, 2, "IB") == 0) unit.erase(1);
  else if (!unit.empty() && unit.back() == 'B') unit.pop_back();
  static const std::string kPrefixes = "KMGT";
  double scale = 1;
  if (unit.size() > 1) return false;
  if (unit.size() == 1) {
    const std::size_t power = kPrefixes.find(unit[0]);
    if (power == std::string::npos) return false;
    scale = std::pow(1024.0, static_cast<double>(power + 1));
  }
  // stod takes a sign, spaces, "inf" and "nan", none of which is a size.
  if (!(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.') || !std::isfinite(number)) return false;
  bytes = number * scale;
  problem.clear();
  return std::isfinite(bytes);
}

bool IsStandardOutput(const std::string& path) { return path == "-"; }

bool IsCaseFolder(const std::string& path, const RunOptions& options) {
  if (IsStandardOutput(path) || path.empty()) return false;
  if (path.back() == '/') return true;
  return options.format == "foam" && !KnownExtension(OutputExtension(path, options));
}

std::string OutputUnits(const std::string& path, const std::string& fileUnits, const RunOptions& options) {
  if (!options.units.empty()) return options.units;
  return IsCaseFolder(path, options) ? "m" : fileUnits;
}

std::string OutputExtension(const std::string& path, const RunOptions& options) {
  std::string extension =
      IsStandardOutput(path) ? "." + options.format : std::filesystem::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

std::string OutputsProblem(const std::vector<std::string>& outputs, const RunOptions& options) {
  const long dashes = std::count_if(outputs.begin(), outputs.end(), IsStandardOutput);
  if (!options.units.empty() && io::MetresPerUnit(options.units) == 0.0)
    return "--units: \"" + io::detail::Printable(options.units) + "\" is not a length unit (use " +
           io::kUnitNames + ")";
  if (dashes > 1) return "-o -: the output stream takes one mesh; give it once";
  if (dashes == 1 && options.summary == SummaryStyle::Json)
    return "-o - and --json both write to the output stream; give one of them";
  if (dashes == 1 && options.format == "foam")
    return "-o -: an OpenFOAM case is a folder of files; give the folder's name";
  if (dashes == 1 && !KnownExtension("." + options.format))
    return "-o -: give --format json, vtu, msh or svg for the output stream";
  if (dashes == 0 && !options.format.empty() && options.format != "foam")
    return "--format names the format of -o - only (or foam, for case folders); a file's extension names its own";
  for (const std::string& path : outputs) {
    if (IsStandardOutput(path) || IsCaseFolder(path, options)) continue;
    const std::string extension = OutputExtension(path, options);
    if (KnownExtension(extension)) continue;
    const std::string shown = extension.empty() ? "no extension" : "extension '" + io::detail::Printable(extension) + "'";
    return "output '" + io::detail::Printable(path) + "': " + shown +
           " is not an output format (use .json, .vtu, .msh or .svg, or a folder with --format foam)";
  }
  return "";
}

std::string LimitsProblem(const quality::Limits& limits) {
  if (limits.minScaledJacobian >= -1.0 && limits.minScaledJacobian <= 1.0) return "";
  std::ostringstream s;
  s << "--min-sj: expected a scaled Jacobian from -1 to 1, got " << limits.minScaledJacobian;
  return s.str();
}

std::ostream& SummaryStream(const std::vector<std::string>& outputs, std::ostream& out, std::ostream& err) {
  return std::any_of(outputs.begin(), outputs.end(), IsStandardOutput) ? err : out;
}

Progress::Progress(std::ostream& err, bool enabled, std::chrono::milliseconds after)
    : m_err(err), m_start(std::chrono::steady_clock::now()), m_after(after), m_enabled(enabled) {}

Progress::~Progress() {
  if (m_lineOpen) m_err << "\n";
}

void Progress::Show(const std::string& what, int done, int total) {
  if (!m_enabled || std::chrono::steady_clock::now() - m_start < m_after) return;
  m_lineOpen = true;
  const std::string line = what + ": " + std::to_string(done) + " of " + std::to_string(total);
  // One phase follows another on the same line; a shorter one must not
  // leave the end of the longer on show.
  m_err << "\r" << line << std::string(m_width > line.size() ? m_width - line.size() : 0, ' ') << std::flush;
  m_width = line.size();
}

std::function<void(int, int)> Progress::Callback(std::string what) {
  return [this, what = std::move(what)](int done, int total) { Show(what, done, total); };
}

void Progress::Print(const std::string& text) {
  if (text.empty()) return;
  if (m_lineOpen) m_err << "\n";
  m_lineOpen = false;
  m_width = 0;
  m_err << text;
}

nlohmann::ordered_json ByKindJson(const MemoryMesh& mesh) {
  return {{"tetra", mesh.CountOf(ElementKind::Tetra)},
          {"pyramid", mesh.CountOf(ElementKind::Pyramid)},
          {"prism", mesh.CountOf(ElementKind::Prism)},
          {"hexa", mesh.CountOf(ElementKind::Hexa)}};
}

bool MakeFolder(const std::string& dir, std::ostream& err) {
  std::error_code made;
  std::filesystem::create_directories(dir, made);
  if (!made) return true;
  err << io::detail::Printable(dir) << ": cannot create the folder (" << made.message() << ")\n";
  return false;
}

std::string WallLine(const quality::WallReport& wall) {
  if (wall.node < 0) return "wall: on or inside the channel the runners are machined to";
  std::ostringstream line;
  line << "wall: " << std::setprecision(3) << wall.outside << " outside the channel at most, " << std::fixed
       << std::setprecision(1) << 100.0 * wall.share << " % of the local radius (node " << wall.node << ")";
  return line.str();
}

bool WallOutside(const quality::WallReport& wall, const RunOptions& options) {
  return options.maxWall >= 0.0 && wall.share > options.maxWall;
}

std::string WallFault(const quality::WallReport& wall, const RunOptions& options) {
  std::ostringstream line;
  line << "wall outside the channel: " << std::fixed << std::setprecision(1) << 100.0 * wall.share
       << " % of the local radius at node " << wall.node << ", over --max-wall " << 100.0 * options.maxWall << " %\n";
  return line.str();
}

nlohmann::ordered_json WallJson(const quality::WallReport& wall) {
  return {{"outside", wall.outside}, {"share_of_radius", wall.share},
          {"node", wall.node < 0 ? nlohmann::ordered_json() : nlohmann::ordered_json(wall.node)}};
}

std::string WallPercent(const quality::WallReport& wall) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << 100.0 * wall.share;
  return text.str();
}

}  // namespace vela::cli
