// Pictures a glTF embeds: PNG and JPEG files as they are (their bytes, with their type), any
// other picture stb_image reads (BMP, TGA, GIF's first frame, PSD, HDR, PIC, PNM) converted to
// PNG, since glTF players read those two alone.
#pragma once

#include <string>

namespace headless {

struct GlbImage {
  std::string mimeType;  // "image/png" or "image/jpeg"
  std::string bytes;
};

// The picture in `bytes` (`name` names it in messages). Throws std::runtime_error "name: why"
// when it is neither PNG nor JPEG and stb_image cannot read it.
GlbImage GlbImageOf(const std::string& bytes, const std::string& name);
// The same from the file at `path`; std::runtime_error naming it when it cannot be read.
GlbImage LoadGlbImage(const std::string& path);

}  // namespace headless
