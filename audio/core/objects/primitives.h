#pragma once

#include <cstddef>
#include <cstdint>

namespace pmx {

// The small routines the devices, files and displays share. Swaps, minimum and
// maximum are std::swap, std::min and std::max.

// value bounded by low and high; the low bound is tested first, so a crossed
// range gives low (Clamp(5, 10, 1) == 10). Unlike std::clamp it is defined there.
template <class T>
constexpr T Clamp(T value, T low, T high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// value bounded by the range two bounds span, given in either order.
template <class T>
constexpr T ClampBetween(T value, T bound1, T bound2) {
  return bound1 <= bound2 ? Clamp(value, bound1, bound2) : Clamp(value, bound2, bound1);
}

template <class T>
constexpr bool InRange(T value, T low, T high) {
  return value >= low && value <= high;
}

// In the range two bounds span, given in either order.
template <class T>
constexpr bool InRangeBetween(T value, T bound1, T bound2) {
  return bound1 <= bound2 ? InRange(value, bound1, bound2) : InRange(value, bound2, bound1);
}

// count bytes of value; nothing for no buffer.
void FillBytes(void* dest, size_t count, uint8_t value);
// count / 4 words of pattern in memory order, then count % 4 bytes of its low
// byte; nothing for no buffer.
void FillLong(void* dest, size_t count, uint32_t pattern);
// Copies count bytes; the ranges may overlap.
void MoveBytes(const void* source, void* dest, size_t count);
// True when the count bytes are equal.
bool CompareBytes(const void* a, const void* b, size_t count);

}  // namespace pmx
