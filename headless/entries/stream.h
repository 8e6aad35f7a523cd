// The scene-file stream behind the HyperFile handle: a byte buffer of typed values in an encoding
// of the headless host's own, written and read in order.
//
// Encoding: every value is one type-marker byte followed by its payload, little-endian:
//   bool    0x42 ('B'), 1 byte: 0 or 1 (any other byte is a corrupt value)
//   int32   0x49 ('I'), 4 bytes two's complement
//   vector  0x56 ('V'), 24 bytes: x, y, z as IEEE float64 bit patterns
// There is no header and no count: a plug-in's chunk is just its values in the order it wrote
// them.
//
// Failure is sticky: a read past the end, a read of another type than the next marker, a corrupt
// bool, a write on a stream opened for reading (or the other way round), or a write that cannot
// grow the buffer marks the stream failed, and every later operation then fails without touching
// its output. A failed read leaves its output variable unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "host/abi/table.h"

namespace headless {

inline constexpr std::uint8_t kStreamBool = 0x42;
inline constexpr std::uint8_t kStreamInt32 = 0x49;
inline constexpr std::uint8_t kStreamVector = 0x56;

class MemoryStream {
 public:
  // An empty stream to write into.
  MemoryStream() = default;
  // A stream that reads `bytes` from the start.
  static MemoryStream ForReading(std::vector<std::uint8_t> bytes);

  bool WriteBool(bool v);
  bool WriteInt32(Int32 v);
  bool WriteVector(const Vector3& v);
  bool ReadBool(bool& v);
  bool ReadInt32(Int32& v);
  bool ReadVector(Vector3& v);

  bool Failed() const { return failed_; }
  bool AtEnd() const { return position_ == bytes_.size(); }
  // Bytes read so far (reading) or written (writing).
  std::size_t Position() const { return reading_ ? position_ : bytes_.size(); }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }

 private:
  bool Put(std::uint8_t marker, const std::uint8_t* payload, std::size_t size);
  // Consumes the marker and `size` payload bytes when the next value is of type `marker`.
  const std::uint8_t* Take(std::uint8_t marker, std::size_t size);

  std::vector<std::uint8_t> bytes_;
  std::size_t position_ = 0;
  bool reading_ = false;
  bool failed_ = false;
};

HyperFile* ToHyperFile(MemoryStream* stream);
MemoryStream* FromHandle(HyperFile* handle);

// Sets the hfWrite*/hfRead* entries of the host table.
void InstallStreamEntries(HostTable& table);

}  // namespace headless
