#include "audio/core/objects/maths.h"

#include <cmath>

namespace pmx {

Extended MaxExtended(Extended a, Extended b) { return a > b ? a : b; }

Extended ClampExtended(Extended x, Extended low, Extended high) {
  if (low > x) return low;
  if (high < x) return high;
  return x;
}

int64_t FloorToInt(Extended x) {
  const Extended whole = std::trunc(x);
  const int64_t result = static_cast<int64_t>(whole);
  return x - whole < 0 ? result - 1 : result;
}

Extended LnExt(Extended x) { return std::log(x); }

Extended Log2Ext(Extended x) { return std::log2(x); }

Extended Log10Ext(Extended x) { return std::log10(x); }

Extended PowerExt(Extended base, Extended exponent) {
  return std::exp2(exponent * std::log2(base));
}

}  // namespace pmx
