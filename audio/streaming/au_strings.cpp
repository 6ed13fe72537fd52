#include "audio/streaming/au_strings.h"

#include <algorithm>
#include <charconv>

namespace pmx {
namespace {

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string_view CopyUpToChar(char ch, std::string_view s) {
  const size_t at = s.find(ch);
  return at == std::string_view::npos ? std::string_view() : s.substr(0, at);
}

std::string_view CopyAfterChar(char ch, std::string_view s) {
  const size_t at = s.find(ch);
  return at == std::string_view::npos ? std::string_view() : s.substr(at + 1);
}

bool SameText(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return LowerAscii(x) == LowerAscii(y); });
}

bool LessText(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char x, char y) { return LowerAscii(x) < LowerAscii(y); });
}

std::string LowerCase(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
  return out;
}

int StrToIntDef(std::string_view text, int fallback) {
  if (text.size() > 1 && text[0] == '+' && text[1] != '-') text.remove_prefix(1);
  const char* end = text.data() + text.size();
  int value = 0;
  auto [at, error] = std::from_chars(text.data(), end, value);
  return !text.empty() && error == std::errc() && at == end ? value : fallback;
}

bool SameGUID(const TGUID& a, const TGUID& b) {
  return a.D1 == b.D1 && a.D2 == b.D2 && a.D3 == b.D3 && std::equal(a.D4, a.D4 + 8, b.D4);
}

}  // namespace pmx
