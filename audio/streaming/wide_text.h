#pragma once

#include <string>
#include <string_view>

namespace pmx {

// Wide text is UTF-16, as the tag formats carry it. 8-bit text is ISO-8859-1:
// the single-byte encoding ID3 and APE tags are written in.
using WideString = std::u16string;

WideString Latin1ToWide(std::string_view text);
// Characters outside ISO-8859-1 become '?'.
std::string WideToLatin1(std::u16string_view text);

// Malformed sequences become U+FFFD; nothing is read past the end of the input.
WideString Utf8ToWide(std::string_view text);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::u16string_view text);

}  // namespace pmx
