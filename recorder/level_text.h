#pragma once

#include <string>

namespace pmx {

// value with one decimal in fixed notation, right-aligned in at least width
// characters; a value that rounds to zero is "0.0", never "-0.0".
std::string FixedOneDecimal(double value, int width = 0);

// A 16-bit peak or threshold in dB of full scale, 10 x log10((peak + 1) / 32767),
// as "-45.2 dB".
std::string DecibelText(int peak);

}  // namespace pmx
