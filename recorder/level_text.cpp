#include "recorder/level_text.h"

#include <charconv>
#include <cmath>

namespace pmx {

std::string FixedOneDecimal(double value, int width) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
  std::string text(buffer, result.ptr);
  if (text == "-0.0") text = "0.0";
  if (static_cast<int>(text.size()) < width) text.insert(0, width - text.size(), ' ');
  return text;
}

std::string DecibelText(int peak) {
  return FixedOneDecimal(10.0 * std::log10((peak + 1) / 32767.0), 2) + " dB";
}

}  // namespace pmx
