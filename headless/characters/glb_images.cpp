#include "headless/characters/glb_images.h"

#include <climits>
#include <memory>
#include <stdexcept>

#include "headless/files/input_file.h"

// The library's functions stay inside this unit (static), so they meet no other copy linked into
// the program (headless/io encodes PNG with its own); its header is a system header of the build.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
// GCC's flow analysis sees stb_image's reader context as maybe unset where the library sets it.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <stb_image.h>
#include <stb_image_write.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

namespace headless {

GlbImage GlbImageOf(const std::string& bytes, const std::string& name) {
  if (bytes.rfind("\x89PNG\r\n\x1a\n", 0) == 0) return {"image/png", bytes};
  if (bytes.rfind("\xFF\xD8\xFF", 0) == 0) return {"image/jpeg", bytes};
  if (bytes.size() > INT_MAX) throw std::runtime_error(name + ": too large a picture to convert");
  int width = 0, height = 0, channels = 0;
  const std::unique_ptr<stbi_uc, void (*)(void*)> pixels(
      stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(bytes.data()),
                            static_cast<int>(bytes.size()), &width, &height, &channels, 0),
      stbi_image_free);
  if (pixels == nullptr)
    throw std::runtime_error(name + ": not a picture this program reads (" + stbi_failure_reason() +
                             ")");
  int size = 0;
  const std::unique_ptr<unsigned char, void (*)(void*)> png(
      stbi_write_png_to_mem(pixels.get(), width * channels, width, height, channels, &size), free);
  if (png == nullptr) throw std::runtime_error(name + ": cannot be encoded as PNG");
  return {"image/png", std::string(reinterpret_cast<const char*>(png.get()), size)};
}

GlbImage LoadGlbImage(const std::string& path) {
  InputFile in(path);
  std::string bytes;
  in.ReadRest(bytes);
  return GlbImageOf(bytes, path);
}

}  // namespace headless
