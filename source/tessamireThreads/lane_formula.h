// The frame-axes formula written once for any lane type T: a Float, or several Floats in one
// register. Every operation is one IEEE operation per lane (add, subtract, multiply, divide,
// square root) or a bitwise selection, so each lane's bits are those of the one-point rule.
//
// Each unit that includes this header instantiates the formula for its own lane types, which may
// be built for another instruction set, so everything here has internal linkage. The including
// unit declares Sqrt, InverseLength and Select for its lane types before the include when they
// are not class types (a class type's are found at instantiation).
#pragma once

#include "host/abi/types.h"

namespace {

// One formula for a lane type T (Float, or a pair of Float); every operation as in vmath.
template <typename T>
struct V3 {
  T x, y, z;
};

template <typename T>
inline V3<T> Add(const V3<T>& a, const V3<T>& b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
template <typename T>
inline V3<T> Sub(const V3<T>& a, const V3<T>& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
template <typename T>
inline V3<T> Scale(const V3<T>& v, T s) {
  return {v.x * s, v.y * s, v.z * s};
}
template <typename T>
inline V3<T> Cross(const V3<T>& a, const V3<T>& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

template <typename T>
inline V3<T> Normalized(const V3<T>& v) {
  const T length = Sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
  return Scale(v, InverseLength(length));
}

template <typename T, typename Mask>
inline void Axes(const V3<T>& normalSum, T inverseCount, const V3<T>& here, const V3<T>& first,
                 const V3<T>& second, Mask hasPair, V3<T>& axis1, V3<T>& axis2, V3<T>& axis3) {
  axis3 = Normalized(Scale(normalSum, inverseCount));
  const V3<T> tangent = Normalized(Add(Sub(here, second), Sub(first, here)));
  const V3<T> a1 = Normalized(Cross(axis3, tangent));
  const V3<T> a2 = Cross(axis3, a1);
  // Without a pair both axes are zero, as the one-point rule leaves them.
  axis1 = {Select(hasPair, a1.x), Select(hasPair, a1.y), Select(hasPair, a1.z)};
  axis2 = {Select(hasPair, a2.x), Select(hasPair, a2.y), Select(hasPair, a2.z)};
  axis1 = Normalized(axis1);
  axis2 = Normalized(axis2);
  axis3 = Normalized(axis3);
}

}  // namespace
