#include "audio/core/chain/device_id.h"

#include <charconv>
#include <strings.h>

namespace pmx {
namespace {

struct Ident {
  TMMDeviceId id;
  const char* name;
};

constexpr Ident kIdents[] = {{MapperId, "MapperId"}, {InvalidId, "InvalidId"}};

bool SameText(std::string_view a, const char* b) {
  return a.size() == std::char_traits<char>::length(b) &&
         strncasecmp(a.data(), b, a.size()) == 0;
}

}  // namespace

std::string DeviceIdToIdent(TMMDeviceId id) {
  for (const Ident& ident : kIdents) {
    if (ident.id == id) return ident.name;
  }
  return std::to_string(id);
}

std::optional<TMMDeviceId> IdentToDeviceId(std::string_view text) {
  for (const Ident& ident : kIdents) {
    if (SameText(text, ident.name)) return ident.id;
  }
  TMMDeviceId id = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, id);
  if (error != std::errc() || last != end || text.empty()) return std::nullopt;
  return id;
}

}  // namespace pmx
