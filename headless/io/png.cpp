#include "headless/io/png.h"

#include "headless/files/output_file.h"

#include <cstdlib>
#include <new>
#include <span>
#include <stdexcept>
#include <unordered_set>

namespace headless {
namespace {

// Every block the encoder holds while it runs, freed when it returns or throws. Its allocations
// throw std::bad_alloc when the system refuses: the encoder's own code does not check that a
// buffer grew (only an assert, compiled out), and would write past the end of it.
class EncoderMemory {
 public:
  EncoderMemory() { current_ = this; }
  ~EncoderMemory() {
    current_ = nullptr;
    for (void* block : blocks_) std::free(block);
  }
  EncoderMemory(const EncoderMemory&) = delete;
  EncoderMemory& operator=(const EncoderMemory&) = delete;

  static void* Reallocate(void* block, size_t size) {
    void* moved = std::realloc(block, size);
    if (moved == nullptr) throw std::bad_alloc();  // `block` is still held, and freed
    if (block != nullptr) current_->blocks_.erase(block);
    try {
      current_->blocks_.insert(moved);
    } catch (...) {
      std::free(moved);
      throw;
    }
    return moved;
  }
  static void Free(void* block) {
    if (block == nullptr) return;
    current_->blocks_.erase(block);
    std::free(block);
  }

 private:
  static thread_local EncoderMemory* current_;
  std::unordered_set<void*> blocks_;
};

thread_local EncoderMemory* EncoderMemory::current_ = nullptr;

}  // namespace
}  // namespace headless

// The library's functions stay inside this unit (static), so that no other copy linked into a
// program (a library that embeds its own) meets them; its header is a system header of the
// build, whose warnings are not this project's. Files are written by output_file, never by it.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#define STBIW_MALLOC(size) headless::EncoderMemory::Reallocate(nullptr, size)
#define STBIW_REALLOC(block, size) headless::EncoderMemory::Reallocate(block, size)
#define STBIW_FREE(block) headless::EncoderMemory::Free(block)
#include <stb_image_write.h>

namespace headless {

std::vector<std::uint8_t> EncodePng(const Image& image) {
  if (image.width < 1 || image.height < 1)
    throw std::invalid_argument("EncodePng: the image is empty");
  const UInt64 rowBytes = (static_cast<UInt64>(image.width) * 3 + 1) * image.height;
  if (rowBytes > kMaxPngRowBytes)
    throw std::invalid_argument("EncodePng: a " + std::to_string(image.width) + " x " +
                                std::to_string(image.height) + " picture is too large for PNG (" +
                                std::to_string(rowBytes) + " bytes of rows, at most " +
                                std::to_string(kMaxPngRowBytes) + ")");
  const UInt64 expected = static_cast<UInt64>(image.width) * static_cast<UInt64>(image.height) * 3;
  if (image.rgb.size() != expected)
    throw std::invalid_argument("EncodePng: the image holds " + std::to_string(image.rgb.size()) +
                                " bytes, " + std::to_string(image.width) + " x " +
                                std::to_string(image.height) + " RGB needs " +
                                std::to_string(expected));
  const EncoderMemory memory;
  int size = 0;
  unsigned char* png =
      stbi_write_png_to_mem(image.rgb.data(), image.width * 3, image.width, image.height, 3, &size);
  // Null only where an allocation failed, and those throw above: kept for a later library.
  if (png == nullptr) throw std::bad_alloc();
  return std::vector<std::uint8_t>(png, png + size);
}

void WritePng(const std::string& path, const Image& image) {
  WriteFileAtomically(path, std::span<const std::uint8_t>(EncodePng(image)));
}

}  // namespace headless
