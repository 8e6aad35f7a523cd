#include "headless/io/obj_file_vertices.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

#include "headless/files/shortest_number.h"
#include "headless/io/obj.h"
#include "headless/io/obj_write.h"
#include "headless/platform/paths.h"

namespace headless {

FileVertices ObjFileVertices(const ObjFile& file) {
  struct Corner {
    Int32 point, texcoord, normal;
    bool operator==(const Corner&) const = default;
  };
  struct CornerHash {
    size_t operator()(const Corner& c) const {
      return (size_t(UInt32(c.point)) * 73856093u) ^ (size_t(UInt32(c.texcoord)) * 19349663u) ^
             (size_t(UInt32(c.normal)) * 83492791u);
    }
  };
  FileVertices out;
  out.object = file.objectName;
  if (out.object.empty())
    out.object = platform::Utf8FromPath(platform::PathFromUtf8(file.name).stem());
  out.mesh = out.object;
  out.materials = file.materials;
  out.faceMaterial = file.faceMaterial;
  const bool texcoords = std::any_of(file.cornerTexcoord.begin(), file.cornerTexcoord.end(),
                                     [](Int32 t) { return t >= 0; });
  const bool normals = std::any_of(file.cornerNormal.begin(), file.cornerNormal.end(),
                                   [](Int32 n) { return n >= 0; });
  std::unordered_map<Corner, Int32, CornerHash> vertexOf;
  out.cornerVertex.reserve(file.cornerPoint.size());
  for (size_t c = 0; c < file.cornerPoint.size(); ++c) {
    const Corner corner{file.cornerPoint[c], file.CornerTexcoord(c), file.CornerNormal(c)};
    const auto [it, added] = vertexOf.emplace(corner, static_cast<Int32>(out.vertexPoint.size()));
    if (added) {
      out.vertexPoint.push_back(corner.point);
      for (int k = 0; texcoords && k < 2; ++k) {
        const Float32 uv = corner.texcoord < 0
                               ? 0.0f
                               : static_cast<Float32>(file.texcoords[2 * corner.texcoord + k]);
        if (!std::isfinite(uv))
          throw std::runtime_error(file.name + ": texture coordinate " +
                                   std::to_string(corner.texcoord + 1) +
                                   " does not fit in float32");
        out.uvs.push_back(uv);
      }
      if (normals)
        out.normals.push_back(corner.normal < 0 ? Vector3{} : file.normals[corner.normal]);
    }
    out.cornerVertex.push_back(it->second);
  }
  out.faceFirst = file.faceFirst;
  return out;
}

namespace {

// A name on one line of its own: line ends become blanks.
std::string OneLine(std::string name) {
  for (char& c : name)
    if (c == '\n' || c == '\r') c = ' ';
  return name;
}

void AppendShortest(std::string& out, Float32 value) {
  char buffer[32];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, error == std::errc() ? end : buffer);
}

}  // namespace

std::string FileVerticesObjText(const FileVertices& file, std::span<const Vector3> positions,
                                std::span<const Vector3> normals) {
  std::string out;
  out.reserve(positions.size() * 100 + file.cornerVertex.size() * 24);
  const std::string name = file.object.empty() ? file.mesh : file.object;
  if (!name.empty()) out += "o " + OneLine(name) + "\n";
  for (const Vector3& p : positions) {
    out += "v ";
    AppendObjTriple(out, p);
    out += '\n';
  }
  for (size_t k = 0; k + 1 < file.uvs.size(); k += 2) {
    out += "vt ";
    AppendShortest(out, file.uvs[k]);
    out += ' ';
    AppendShortest(out, file.uvs[k + 1]);
    out += '\n';
  }
  for (const Vector3& n : normals) {
    out += "vn ";
    AppendObjTriple(out, n);
    out += '\n';
  }
  const bool texcoords = !file.uvs.empty();
  const bool withNormals = !normals.empty();
  Int32 material = -1;
  for (Int64 f = 0; f < file.FaceCount(); ++f) {
    if (file.faceMaterial[f] != material && file.faceMaterial[f] >= 0)
      out += "usemtl " + OneLine(file.materials[file.faceMaterial[f]]) + "\n";
    material = file.faceMaterial[f];
    out += 'f';
    for (Int64 c = file.faceFirst[f]; c < file.faceFirst[f + 1]; ++c) {
      char number[24];
      const char* end =
          std::to_chars(number, number + sizeof number, Int64{file.cornerVertex[c]} + 1).ptr;
      const std::string_view index(number, static_cast<size_t>(end - number));
      out += ' ';
      out += index;
      if (texcoords || withNormals) out += '/';
      if (texcoords) out += index;
      if (withNormals) {
        out += '/';
        out += index;
      }
    }
    out += '\n';
  }
  return out;
}

}  // namespace headless
