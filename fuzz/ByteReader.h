#pragma once

// ByteReader: turns a fuzzer's bytes into numbers, counts and flags.
//
// Every byte string decodes to something (a read past the end gives zeros),
// so the fuzzer never wastes an input on a framing error. A number is a tag
// byte followed by its payload; the two low bits of the tag choose the form:
//
//   double                              int
//   0  kSpecialDoubles[tag >> 2]        0  kSpecialInts[tag >> 2]
//   1  next byte as int8, divided by 4  1  tag >> 2 (0..63)
//   2  next 4 bytes, float32 LE         2  next 4 bytes, int32 LE
//   3  next 8 bytes, float64 LE         3  next byte as int8
//
// The special tables put the values that break geometry code (NaN, the
// infinities, the float and double limits, denormals, -0, INT_MIN) one byte
// away, and quarter steps give readable seeds: 0.25 is the two bytes 01 01.
// fuzz/make_seeds.py writes seeds in this encoding; keep the two in step.

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace vela::fuzz {

inline constexpr double kSpecialDoubles[] = {
    0.0,
    -0.0,
    1.0,
    -1.0,
    0.5,
    0.2,
    0.8,
    2.0,
    std::numeric_limits<double>::quiet_NaN(),
    std::numeric_limits<double>::infinity(),
    -std::numeric_limits<double>::infinity(),
    DBL_MAX,
    -DBL_MAX,
    static_cast<double>(FLT_MAX),
    3.5e38,  // finite as a double, infinite once narrowed to float
    DBL_MIN,
    std::numeric_limits<double>::denorm_min(),
    1e-30,
    1e30,
    1e-7,
    0.999,
    1.0000001,
    0.001,
    100.0,
    1e6,
    20.0,
    -20.0,
    10.0,
    1e-3 * 0.5,  // half the shares' tolerance
    0.9995,      // with 0 as the other share, 1 missed by half the tolerance
    1e15,
    static_cast<double>(FLT_MIN),
};

// 46341 is the smallest int whose square passes INT_MAX.
inline constexpr int kSpecialInts[] = {
    0,       1,       2,           3,           4,      5,       6,       7,    8,  16, -1, -2,
    INT_MIN, INT_MAX, INT_MIN + 1, INT_MAX - 1, 100000, 1 << 20, 1 << 30, 1000, 64, 65, -8, 46341,
};

class ByteReader {
public:
  ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

  bool AtEnd() const { return m_pos >= m_size; }

  uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

  bool Flag() { return (Byte() & 1) != 0; }

  // A count in 0..max.
  int Count(int max) { return Byte() % (max + 1); }

  double Double() {
    const uint8_t tag = Byte();
    switch (tag & 3) {
      case 0:
        return Pick(kSpecialDoubles, tag >> 2);
      case 1:
        return static_cast<int8_t>(Byte()) / 4.0;
      case 2:
        return Raw<float>();
      default:
        return Raw<double>();
    }
  }

  int Int() {
    const uint8_t tag = Byte();
    switch (tag & 3) {
      case 0:
        return Pick(kSpecialInts, tag >> 2);
      case 1:
        return tag >> 2;
      case 2:
        return Raw<int32_t>();
      default:
        return static_cast<int8_t>(Byte());
    }
  }

private:
  template <typename T, size_t N>
  static T Pick(const T (&table)[N], size_t index) {
    return table[index % N];
  }

  // Little-endian on every machine this builds on; memcpy keeps NaN payloads.
  template <typename T>
  T Raw() {
    uint8_t bytes[sizeof(T)] = {};
    for (uint8_t& b : bytes) b = Byte();
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
  }

  const uint8_t* m_data;
  size_t m_size;
  size_t m_pos = 0;
};

}  // namespace vela::fuzz
