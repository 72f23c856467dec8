// The codec's roundings of floats to integers, written so that they compile
// to plain conversions (a truncating conversion is trunc() for every value in
// range), with the out-of-range cases decided on the double first. They give
// exactly the values of the trunc/floor formulas in their comments.
#pragma once

#include <cstdint>

namespace wif {

// A first-level detail value into a signed byte: trunc(v + 0.49) above 0,
// trunc(v - 0.49) otherwise, saturated to -128 .. 127 (never wrapped).
inline int8_t RoundDetail(float v) {
  const double d = v > 0 ? static_cast<double>(v) + 0.49 : static_cast<double>(v) - 0.49;
  if (d >= 128.0) return 127;
  if (d <= -129.0) return -128;
  return static_cast<int8_t>(static_cast<int32_t>(d));
}

// A coefficient of the float plane: trunc(v + 0.499) above 0, trunc(v -
// 0.499) otherwise, saturated to 32 bits.
inline int32_t RoundCoefficient(float v) {
  const double d = v > 0 ? static_cast<double>(v) + 0.499 : static_cast<double>(v) - 0.499;
  if (d >= 2147483647.0) return INT32_MAX;
  if (d <= -2147483648.0) return INT32_MIN;
  return static_cast<int32_t>(d);
}

// A grey or luma sample as a byte: 255 above 255, trunc(v + 0.499) from 0 up,
// 0 below.
inline uint8_t SampleByte(float v) {
  if (v > 255.0f) return 255;
  if (v >= 0.0f) return static_cast<uint8_t>(static_cast<int32_t>(static_cast<double>(v) + 0.499));
  return 0;
}

// A chroma sample with its bias of 128: floor(v + 128 + 0.499), clamped to
// -32768 .. 32767 on the full-range path and to 0 .. 255 on the byte path.
inline int32_t ChromaValue(float v, bool fullRange) {
  const double s = static_cast<double>(v) + 128.0 + 0.499;
  const int32_t low = fullRange ? -32768 : 0;
  const int32_t high = fullRange ? 32767 : 255;
  if (!(s >= low)) return low;
  if (s >= high + 1.0) return high;
  int32_t i = static_cast<int32_t>(s);
  if (static_cast<double>(i) > s) --i;
  return i;
}

}  // namespace wif
