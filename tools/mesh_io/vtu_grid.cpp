#include "vtu_grid.h"

#include "length_unit.h"

#include "binary_data.h"
#include "file_text.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace vela::io::detail {

namespace {

// The fastest level: the arrays are mostly small integers that compress
// well at any level, and a higher one costs far more time than it saves bytes.
constexpr int kZlibLevel = 1;

const char* TypeName(VtkType type) {
  switch (type) {
    case VtkType::UInt8: return "UInt8";
    case VtkType::Int32: return "Int32";
    case VtkType::Float64: return "Float64";
  }
  return "";
}

// The bytes [offset, offset + length) of the values stored as T, which
// starts on a value: blocks are a multiple of every value size.
template <typename T, typename Value>
void FillAs(const std::vector<Value>& values, size_t offset, size_t length, char* buffer) {
  const size_t first = offset / sizeof(T);
  for (size_t i = 0; i < length / sizeof(T); ++i)
    StoreLittleEndian(static_cast<T>(values[first + i]), buffer + i * sizeof(T));
}

// The binary arrays of a piece, in file order, each at the offset it was
// added at: the XML that refers to them is written before their bytes.
class AppendedData {
public:
  // Adds the array; returns its offset from the start of the data.
  size_t Add(VtkBlocks array) {
    const size_t offset = m_size;
    m_size += array.Size();
    m_arrays.push_back(std::move(array));
    return offset;
  }
  size_t Size() const { return m_size; }
  void AppendTo(std::string& out) const {
    for (const VtkBlocks& array : m_arrays) array.AppendTo(out);
  }

private:
  std::vector<VtkBlocks> m_arrays;
  size_t m_size = 0;
};

VtkBlocks Compress(const VtuArray& array) {
  const size_t count = array.type == VtkType::Float64 ? array.reals.size() : array.integers.size();
  const size_t size = array.type == VtkType::UInt8 ? 1 : array.type == VtkType::Int32 ? 4 : 8;
  const VtkType type = array.type;
  const ByteSource source = [&array, type](size_t offset, size_t length, char* buffer) {
    switch (type) {
      case VtkType::UInt8: return FillAs<std::uint8_t>(array.integers, offset, length, buffer);
      case VtkType::Int32: return FillAs<std::int32_t>(array.integers, offset, length, buffer);
      case VtkType::Float64: return FillAs<double>(array.reals, offset, length, buffer);
    }
  };
  return CompressVtkBlocks(count * size, source, 8, kZlibLevel);
}

// One tuple a line, or, with lineEnds (the cell offsets), one cell a line.
void AppendAsciiValues(std::string& out, const VtuArray& array,
                       const std::vector<std::int32_t>* lineEnds = nullptr) {
  const size_t count = array.type == VtkType::Float64 ? array.reals.size() : array.integers.size();
  const size_t perLine = static_cast<size_t>(array.components);
  size_t line = 0;
  for (size_t i = 0; i < count; ++i) {
    if (array.type == VtkType::Float64)
      AppendDouble(out, array.reals[i]);
    else
      out += std::to_string(array.integers[i]);
    bool end = (i + 1) % perLine == 0;
    if (lineEnds) {
      while (line < lineEnds->size() && static_cast<size_t>((*lineEnds)[line]) < i + 1) ++line;
      end = line < lineEnds->size() && static_cast<size_t>((*lineEnds)[line]) == i + 1;
    }
    out += end || i + 1 == count ? '\n' : ' ';
  }
}

void OpenArray(std::string& out, const VtuArray& array, const char* indent) {
  out += indent;
  out += "<DataArray type=\"";
  out += TypeName(array.type);
  out += "\" Name=\"" + array.name + "\"";
  if (array.components != 1)
    out += " NumberOfComponents=\"" + std::to_string(array.components) + "\"";
}

// Writes one array of the piece: inline ASCII, or an appended reference with
// its compressed bytes added to appended.
void AppendArray(std::string& out, const VtuArray& array, AppendedData* appended,
                 const std::vector<std::int32_t>* lineEnds = nullptr) {
  OpenArray(out, array, "        ");
  if (appended) {
    out += " format=\"appended\" offset=\"" + std::to_string(appended->Add(Compress(array))) + "\"/>\n";
    return;
  }
  out += " format=\"ascii\">\n";
  AppendAsciiValues(out, array, lineEnds);
  out += "        </DataArray>\n";
}

// The points straight from the mesh's nodes, which are not copied into an array.
void AppendPoints(std::string& out, const std::vector<std::array<double, 3>>& points,
                  AppendedData* appended) {
  out += "        <DataArray type=\"Float64\" Name=\"Points\" NumberOfComponents=\"3\"";
  if (appended) {
    const ByteSource source = [&points](size_t offset, size_t length, char* buffer) {
      for (size_t i = 0; i < length / 8; ++i) {
        const size_t value = offset / 8 + i;
        StoreLittleEndian(points[value / 3][value % 3], buffer + 8 * i);
      }
    };
    const size_t offset = appended->Add(CompressVtkBlocks(24 * points.size(), source, 8, kZlibLevel));
    out += " format=\"appended\" offset=\"" + std::to_string(offset) + "\"/>\n";
    return;
  }
  out += " format=\"ascii\">\n";
  for (const auto& p : points) AppendPoint(out, p);
  out += "        </DataArray>\n";
}

void AppendFieldData(std::string& out, const std::vector<VtuArray>& fieldData) {
  if (fieldData.empty()) return;
  out += "    <FieldData>\n";
  for (const VtuArray& array : fieldData) {
    OpenArray(out, array, "      ");
    const size_t count = array.type == VtkType::Float64 ? array.reals.size() : array.integers.size();
    out += " NumberOfTuples=\"" + std::to_string(count / static_cast<size_t>(array.components)) +
           "\" format=\"ascii\">";
    out += count > 1 ? "\n" : "";
    AppendAsciiValues(out, array);
    if (count <= 1 && out.back() == '\n') out.pop_back();
    out += count > 1 ? "      </DataArray>\n" : "</DataArray>\n";
  }
  out += "    </FieldData>\n";
}

}  // namespace

std::vector<VtuArray> UnitsField(const std::string& units) {
  if (units.empty()) return {};
  return {{"metres_per_unit", VtkType::Float64, 1, {}, {MetresPerUnit(units)}}};
}

void StartCells(VtuGrid& grid, size_t cellCount, size_t cornerCount) {
  if (cornerCount > static_cast<size_t>(INT32_MAX))
    throw std::invalid_argument("the cells have " + std::to_string(cornerCount) +
                                " corners in all, more than one .vtu piece can number (" +
                                std::to_string(INT32_MAX) + ")");
  grid.cellCount = cellCount;
  grid.connectivity = {"connectivity", VtkType::Int32, 1, {}, {}};
  grid.offsets = {"offsets", VtkType::Int32, 1, {}, {}};
  grid.types = {"types", VtkType::UInt8, 1, {}, {}};
  grid.connectivity.integers.reserve(cornerCount);
  grid.offsets.integers.reserve(cellCount);
  grid.types.integers.reserve(cellCount);
}

std::string FormatVtuGrid(const VtuGrid& grid, bool binary) {
  AppendedData appendedData;
  AppendedData* appended = binary ? &appendedData : nullptr;
  std::string out = "<?xml version=\"1.0\"?>\n";
  out += "<VTKFile type=\"UnstructuredGrid\" version=\"1.0\" byte_order=\"LittleEndian\" "
         "header_type=\"UInt64\"";
  out += binary ? " compressor=\"vtkZLibDataCompressor\">\n" : ">\n";
  out += "  <UnstructuredGrid>\n";
  AppendFieldData(out, grid.fieldData);
  out += "    <Piece NumberOfPoints=\"" + std::to_string(grid.points->size()) +
         "\" NumberOfCells=\"" + std::to_string(grid.cellCount) + "\">\n";
  out += "      <Points>\n";
  AppendPoints(out, *grid.points, appended);
  out += "      </Points>\n      <Cells>\n";
  AppendArray(out, grid.connectivity, appended, &grid.offsets.integers);
  AppendArray(out, grid.offsets, appended);
  AppendArray(out, grid.types, appended);
  out += "      </Cells>\n      <CellData>\n";
  for (const VtuArray& array : grid.cellData) AppendArray(out, array, appended);
  out += "      </CellData>\n    </Piece>\n  </UnstructuredGrid>\n";
  if (binary) {
    out.reserve(out.size() + appendedData.Size() + 64);
    out += "  <AppendedData encoding=\"raw\">\n   _";
    appendedData.AppendTo(out);
    out += "\n  </AppendedData>\n";
  }
  out += "</VTKFile>\n";
  return out;
}

}  // namespace vela::io::detail
