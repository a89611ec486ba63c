#pragma once

// The three mesh file formats, one writer and one reader each. Internal to
// vela_mesh_io: mesh_file.cpp checks a document before handing it to a writer,
// so the writers may assume a sound document (its kind "nway", "bend" or ""),
// and checks the junction kind a reader returns.

#include "mesh_file.h"

#include <string>
#include <vector>

namespace vela::io::detail {

// The solid kind whose type number in a file format, as typeOf gives it, is
// type; false when no kind has that number.
bool KindFromType(long long type, int (*typeOf)(ElementKind), ElementKind& kind);

// The writers. scaledJacobian is empty or holds one value per element;
// units is a known unit or "" (WriteOptions::units).
std::string FormatJsonMesh(const MeshDocument& document, const std::string& units);
// binary: compressed appended data (.vtu), binary MSH 4.1 (.msh).
std::string FormatVtuMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian,
                          bool binary, const std::string& units);
std::string FormatMshMesh(const MeshDocument& document, const std::vector<double>& scaledJacobian,
                          bool binary, const std::string& units);

// The readers; each throws MeshFileError on malformed text.
MeshDocument ParseJsonMesh(const std::string& text);
MeshDocument ParseVtuMesh(const std::string& text);
MeshDocument ParseMshMesh(const std::string& text);

}  // namespace vela::io::detail
