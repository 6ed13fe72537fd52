#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pmx {

// The part of s before the first ch; empty when ch does not occur.
std::string_view CopyUpToChar(char ch, std::string_view s);
// The part of s after the first ch; empty when ch does not occur.
std::string_view CopyAfterChar(char ch, std::string_view s);

// Comparisons and case mapping without regard to ASCII case.
bool SameText(std::string_view a, std::string_view b);
bool LessText(std::string_view a, std::string_view b);
std::string LowerCase(std::string_view s);

// A whole decimal integer with an optional sign that fits an int; else fallback.
int StrToIntDef(std::string_view text, int fallback);

// A 16-byte identifier as the media runtime's attributes name them.
struct TGUID {
  uint32_t D1;
  uint16_t D2;
  uint16_t D3;
  uint8_t D4[8];
};

// Equal in every field.
bool SameGUID(const TGUID& a, const TGUID& b);

}  // namespace pmx
