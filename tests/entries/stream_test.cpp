// The typed stream behind the HyperFile handle: values back bit for bit in order, and failure
// that is sticky.
#include "headless/entries/stream.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using headless::MemoryStream;

bool SameBits(const std::vector<Vector3>& a, const std::vector<Vector3>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(Vector3)) == 0;
}

TEST(TypedStream, ValuesComeBackBitForBitInOrder) {
  const Vector3 awkward{-0.0, std::numeric_limits<Float>::denorm_min(),
                        std::numeric_limits<Float>::quiet_NaN()};
  MemoryStream out;
  EXPECT_TRUE(out.WriteBool(true));
  EXPECT_TRUE(out.WriteInt32(std::numeric_limits<Int32>::min()));
  EXPECT_TRUE(out.WriteVector(awkward));
  EXPECT_TRUE(out.WriteBool(false));
  EXPECT_TRUE(out.WriteInt32(-2));
  EXPECT_EQ(out.Bytes().size(), 2u + 5u + 25u + 2u + 5u);
  // Little-endian payloads behind their markers.
  EXPECT_EQ(out.Bytes()[2], headless::kStreamInt32);
  EXPECT_EQ(out.Bytes()[6], 0x80);

  MemoryStream in = MemoryStream::ForReading(out.Bytes());
  bool b = false;
  Int32 i = 0;
  Vector3 v;
  ASSERT_TRUE(in.ReadBool(b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(in.ReadInt32(i));
  EXPECT_EQ(i, std::numeric_limits<Int32>::min());
  ASSERT_TRUE(in.ReadVector(v));
  EXPECT_TRUE(SameBits({v}, {awkward}));
  ASSERT_TRUE(in.ReadBool(b));
  EXPECT_FALSE(b);
  ASSERT_TRUE(in.ReadInt32(i));
  EXPECT_EQ(i, -2);
  EXPECT_TRUE(in.AtEnd());
  EXPECT_FALSE(in.Failed());
}

TEST(TypedStream, WrongTypesEndsAndCorruptValuesFailForGood) {
  MemoryStream out;
  out.WriteInt32(7);
  out.WriteBool(true);

  MemoryStream wrongType = MemoryStream::ForReading(out.Bytes());
  bool b = false;
  EXPECT_FALSE(wrongType.ReadBool(b));
  Int32 i = 99;
  EXPECT_FALSE(wrongType.ReadInt32(i));  // sticky, though an int32 comes next
  EXPECT_EQ(i, 99);

  MemoryStream pastEnd = MemoryStream::ForReading(out.Bytes());
  ASSERT_TRUE(pastEnd.ReadInt32(i));
  ASSERT_TRUE(pastEnd.ReadBool(b));
  EXPECT_FALSE(pastEnd.ReadBool(b));
  EXPECT_TRUE(pastEnd.Failed());

  std::vector<std::uint8_t> bytes = out.Bytes();
  bytes.pop_back();  // a cut payload
  MemoryStream cut = MemoryStream::ForReading(bytes);
  ASSERT_TRUE(cut.ReadInt32(i));
  EXPECT_FALSE(cut.ReadBool(b));

  bytes = out.Bytes();
  bytes.at(bytes.size() - 1) = 2;  // a bool that is neither 0 nor 1 (at(): gcc -O3 sees no size)
  MemoryStream corrupt = MemoryStream::ForReading(bytes);
  ASSERT_TRUE(corrupt.ReadInt32(i));
  b = false;
  EXPECT_FALSE(corrupt.ReadBool(b));
  EXPECT_FALSE(b);

  MemoryStream reading = MemoryStream::ForReading(out.Bytes());
  EXPECT_FALSE(reading.WriteBool(true));
  MemoryStream writing;
  EXPECT_FALSE(writing.ReadBool(b));
  EXPECT_FALSE(writing.WriteBool(true));
}

}  // namespace
