#pragma once

#include <cstdint>

namespace pmx {

// Extended-precision helpers of the displays' scales and meters.
using Extended = long double;

// The larger value; b when they are equal.
Extended MaxExtended(Extended a, Extended b);
// low when low > x, else high when high < x, else x: the low bound wins a crossed range.
Extended ClampExtended(Extended x, Extended low, Extended high);
// Rounds toward minus infinity.
int64_t FloorToInt(Extended x);
Extended LnExt(Extended x);
Extended Log2Ext(Extended x);
Extended Log10Ext(Extended x);
// base ^ exponent as 2 ^ (exponent x log2(base)); defined for base > 0 only.
Extended PowerExt(Extended base, Extended exponent);

}  // namespace pmx
