#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pmx {

// A device number: 0..n-1 a device, or one of the two identifiers below.
using TMMDeviceId = int;

inline constexpr TMMDeviceId MapperId = -1;
inline constexpr TMMDeviceId InvalidId = -2;

// "MapperId", "InvalidId" or the plain number, as forms store a device number.
std::string DeviceIdToIdent(TMMDeviceId id);
// Reads what DeviceIdToIdent writes; the identifiers in any letter case. Empty for
// text that is neither an identifier nor a whole number.
std::optional<TMMDeviceId> IdentToDeviceId(std::string_view text);

}  // namespace pmx
