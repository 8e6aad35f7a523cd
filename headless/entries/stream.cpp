#include "headless/entries/stream.h"

#include <cstring>
#include <new>

#include "headless/entries/entry_guard.h"

namespace headless {
namespace {

void PutLittle64(std::uint64_t v, std::uint8_t* out) {
  for (int i = 0; i < 8; ++i) out[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint64_t GetLittle64(const std::uint8_t* in) {
  std::uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= static_cast<std::uint64_t>(in[i]) << (8 * i);
  return v;
}

std::uint64_t Bits(Float v) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, &v, sizeof bits);
  return bits;
}

Float FromBits(std::uint64_t bits) {
  Float v = 0.0;
  std::memcpy(&v, &bits, sizeof v);
  return v;
}

}  // namespace

MemoryStream MemoryStream::ForReading(std::vector<std::uint8_t> bytes) {
  MemoryStream stream;
  stream.bytes_ = std::move(bytes);
  stream.reading_ = true;
  return stream;
}

bool MemoryStream::Put(std::uint8_t marker, const std::uint8_t* payload, std::size_t size) {
  if (failed_ || reading_) {
    failed_ = true;
    return false;
  }
  try {
    bytes_.push_back(marker);
    bytes_.insert(bytes_.end(), payload, payload + size);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  return true;
}

const std::uint8_t* MemoryStream::Take(std::uint8_t marker, std::size_t size) {
  if (failed_ || !reading_ || bytes_.size() - position_ < 1 + size || bytes_[position_] != marker) {
    failed_ = true;
    return nullptr;
  }
  const std::uint8_t* payload = bytes_.data() + position_ + 1;
  position_ += 1 + size;
  return payload;
}

bool MemoryStream::WriteBool(bool v) {
  const std::uint8_t payload = v ? 1 : 0;
  return Put(kStreamBool, &payload, 1);
}

bool MemoryStream::WriteInt32(Int32 v) {
  const auto u = static_cast<std::uint32_t>(v);
  const std::uint8_t payload[4] = {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8),
                                   static_cast<std::uint8_t>(u >> 16),
                                   static_cast<std::uint8_t>(u >> 24)};
  return Put(kStreamInt32, payload, 4);
}

bool MemoryStream::WriteVector(const Vector3& v) {
  std::uint8_t payload[24];
  PutLittle64(Bits(v.x), payload);
  PutLittle64(Bits(v.y), payload + 8);
  PutLittle64(Bits(v.z), payload + 16);
  return Put(kStreamVector, payload, 24);
}

bool MemoryStream::ReadBool(bool& v) {
  if (failed_ || !reading_ || bytes_.size() - position_ < 2 || bytes_[position_] != kStreamBool ||
      bytes_[position_ + 1] > 1) {
    failed_ = true;
    return false;
  }
  v = Take(kStreamBool, 1)[0] != 0;
  return true;
}

bool MemoryStream::ReadInt32(Int32& v) {
  const std::uint8_t* p = Take(kStreamInt32, 4);
  if (p == nullptr) return false;
  const std::uint32_t u = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                          static_cast<std::uint32_t>(p[2]) << 16 |
                          static_cast<std::uint32_t>(p[3]) << 24;
  v = static_cast<Int32>(u);
  return true;
}

bool MemoryStream::ReadVector(Vector3& v) {
  const std::uint8_t* p = Take(kStreamVector, 24);
  if (p == nullptr) return false;
  v.x = FromBits(GetLittle64(p));
  v.y = FromBits(GetLittle64(p + 8));
  v.z = FromBits(GetLittle64(p + 16));
  return true;
}

HyperFile* ToHyperFile(MemoryStream* stream) {
  return reinterpret_cast<HyperFile*>(stream);
}

MemoryStream* FromHandle(HyperFile* handle) {
  return reinterpret_cast<MemoryStream*>(handle);
}

namespace {

Bool HfWriteBool(HyperFile* hf, Bool v) {
  return hf != nullptr && FromHandle(hf)->WriteBool(v);
}
Bool HfWriteInt32(HyperFile* hf, Int32 v) {
  return hf != nullptr && FromHandle(hf)->WriteInt32(v);
}
Bool HfWriteVector(HyperFile* hf, const Vector3* v) {
  return hf != nullptr && v != nullptr && FromHandle(hf)->WriteVector(*v);
}
Bool HfReadBool(HyperFile* hf, Bool* v) {
  return hf != nullptr && v != nullptr && FromHandle(hf)->ReadBool(*v);
}
Bool HfReadInt32(HyperFile* hf, Int32* v) {
  return hf != nullptr && v != nullptr && FromHandle(hf)->ReadInt32(*v);
}
Bool HfReadVector(HyperFile* hf, Vector3* v) {
  return hf != nullptr && v != nullptr && FromHandle(hf)->ReadVector(*v);
}

}  // namespace

void InstallStreamEntries(HostTable& table) {
  table.hfWriteBool = Entry<HfWriteBool>;
  table.hfWriteInt32 = Entry<HfWriteInt32>;
  table.hfWriteVector = Entry<HfWriteVector>;
  table.hfReadBool = Entry<HfReadBool>;
  table.hfReadInt32 = Entry<HfReadInt32>;
  table.hfReadVector = Entry<HfReadVector>;
}

}  // namespace headless
