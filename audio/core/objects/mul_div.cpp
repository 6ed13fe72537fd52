#include "audio/core/objects/mul_div.h"

namespace pmx {

int32_t MulDiv32(int32_t a, int32_t b, int32_t c) {
  return static_cast<int32_t>(static_cast<int64_t>(a) * b / c);
}

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t q = product / c;
  const int64_t r = product % c;
  return static_cast<int32_t>(q + (2 * r) / c);
}

uint32_t MulDivRoundU(uint32_t a, uint32_t b, uint32_t c) {
  return static_cast<uint32_t>((static_cast<uint64_t>(a) * b + c / 2) / c);
}

int32_t ShiftRightArith(int32_t a, int n) { return a >> (n & 31); }

int64_t MulDiv64(int64_t a, int64_t b, int64_t c) {
  const long double q = static_cast<long double>(a) * static_cast<long double>(b) /
                        static_cast<long double>(c);
  return static_cast<int64_t>(q);
}

}  // namespace pmx
