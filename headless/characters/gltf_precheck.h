// What a glTF file is checked for before Assimp reads it, where Assimp would fail badly on a file
// the format allows or gives a better message on one it does not:
// - a skin without inverse bind matrices: they are optional, each then the identity, but Assimp
//   reads through the missing accessor; the file is handed on with identity ones supplied;
// - nodes nested deeper than kMaxRigDepth: Assimp walks them by recursion until its stack ends;
//   refused naming the depth.
// Internal to `character`; built with Assimp only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace headless {

// The glTF `file` (binary when `binary`) with identity inverse binds given to every skin without
// them, or nothing when it needs none or cannot be parsed (Assimp then says what is wrong).
// Throws std::runtime_error "name: what" for nodes nested too deep.
std::optional<std::string> PrecheckedGltf(std::string_view file, bool binary,
                                          const std::string& name);

// The JSON chunk's length of a binary glTF whose first 20 bytes are `head`; 0 when they are not
// a binary glTF's header.
std::uint64_t GlbJsonBytes(std::string_view head);

}  // namespace headless
