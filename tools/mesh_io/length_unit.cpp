#include "length_unit.h"

#include <stdexcept>
#include <utility>

namespace vela::io {

double MetresPerUnit(const std::string& unit) {
  static const std::pair<const char*, double> kUnits[] = {
      {"mm", 0.001}, {"cm", 0.01}, {"m", 1.0}, {"in", 0.0254}};
  for (const auto& [name, metres] : kUnits)
    if (unit == name) return metres;
  return 0.0;
}

double UnitFactor(const std::string& from, const std::string& to) {
  const double fromMetres = MetresPerUnit(from), toMetres = MetresPerUnit(to);
  if (fromMetres == 0.0 || toMetres == 0.0)
    throw std::invalid_argument("unknown length unit \"" + (fromMetres == 0.0 ? from : to) + "\"");
  return from == to ? 1.0 : fromMetres / toMetres;
}

}  // namespace vela::io
