// The bytes of a scene file's content: little-endian integers, floats as IEEE bit patterns,
// texts as a u32 length and UTF-8 bytes. The reader bounds every count by the bytes that follow,
// so a corrupt count never allocates for data that is not there, and names the content byte it
// failed at. Internal to the scene file's units.
#pragma once

#include <cstdint>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/abi/types.h"

namespace headless {

class ByteWriter {
 public:
  void U8(std::uint8_t v) { bytes_.push_back(v); }
  void U32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void U64(std::uint64_t v) {
    for (int i = 0; i < 8; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void I32(Int32 v) { U32(static_cast<std::uint32_t>(v)); }
  void I64(Int64 v) { U64(static_cast<std::uint64_t>(v)); }
  void F64(Float v) {
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    U64(bits);
  }
  void F32(Float32 v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    U32(bits);
  }
  void Count(std::size_t n, const char* what) {
    if (n > std::numeric_limits<std::uint32_t>::max())
      throw std::runtime_error(std::string("too many ") + what + " to save");
    U32(static_cast<std::uint32_t>(n));
  }
  void Text(const std::string& s) {
    Count(s.size(), "bytes in a text");
    Bytes(s.data(), s.size());
  }
  void Bytes(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
  }
  std::vector<std::uint8_t>& Buffer() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Remaining() const { return size_ - position_; }
  std::uint8_t U8() { return *Take(1); }
  std::uint32_t U32() {
    const std::uint8_t* p = Take(4);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
  }
  std::uint64_t U64() {
    const std::uint8_t* p = Take(8);
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(p[i]) << (8 * i);
    return v;
  }
  Int32 I32() { return static_cast<Int32>(U32()); }
  Int64 I64() { return static_cast<Int64>(U64()); }
  Float F64() {
    const std::uint64_t bits = U64();
    Float v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  Float32 F32() {
    const std::uint32_t bits = U32();
    Float32 v = 0.0f;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }
  // A count of elements of `elementSize` bytes each that must fit in what is left, so that a
  // corrupt count never makes us allocate for data that is not there.
  std::size_t Count(std::size_t elementSize, const char* what) {
    const std::uint64_t n = U32();
    if (elementSize != 0 && n > Remaining() / elementSize)
      Fail(std::string("the count of ") + what + " (" + std::to_string(n) +
           ") exceeds the data that follows");
    return static_cast<std::size_t>(n);
  }
  std::string Text() {
    const std::size_t n = Count(1, "text bytes");
    const std::uint8_t* p = Take(n);
    return std::string(reinterpret_cast<const char*>(p), n);
  }
  const std::uint8_t* Take(std::size_t n) {
    if (Remaining() < n) Fail("the content ends early");
    const std::uint8_t* p = data_ + position_;
    position_ += n;
    return p;
  }
  [[noreturn]] void Fail(const std::string& what) const {
    throw std::runtime_error(what + " (at content byte " + std::to_string(position_) + ")");
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace headless
