#pragma once

#include <cstdint>

namespace pmx {

// a x b / c with a 64-bit product, truncated toward zero.
int32_t MulDiv32(int32_t a, int32_t b, int32_t c);
// q + (2 x r) / c for quotient q and remainder r of the 64-bit a x b by c:
// halves round away from zero.
int32_t MulDivRound(int32_t a, int32_t b, int32_t c);
// (a x b + c / 2) / c in unsigned arithmetic.
uint32_t MulDivRoundU(uint32_t a, uint32_t b, uint32_t c);
// Arithmetic shift right by n (mod 32).
int32_t ShiftRightArith(int32_t a, int n);
// trunc(a x b / c) computed in extended precision.
int64_t MulDiv64(int64_t a, int64_t b, int64_t c);

}  // namespace pmx
