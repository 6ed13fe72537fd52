#include "platform/asf_header.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "platform/byte_order.h"

namespace pmx {
namespace {

using Guid = std::array<uint8_t, 16>;

// GUIDs as they lie in the file (first three fields little-endian).
constexpr Guid kHeaderObject = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr Guid kContentEncryption = {0xFB, 0xB3, 0x11, 0x22, 0x23, 0xBD, 0xD2, 0x11,
                                     0xB4, 0xB7, 0x00, 0xC0, 0x4F, 0xB7, 0xB6, 0xC5};
constexpr Guid kExtendedContentEncryption = {0x14, 0xE6, 0x8A, 0x29, 0x22, 0x26, 0x17, 0x4C,
                                             0xB9, 0x35, 0xDA, 0xE0, 0x7E, 0xE9, 0x28, 0x9C};

constexpr int64_t kObjectHead = 24;  // GUID and 64-bit size
constexpr int64_t kHeaderHead = 30;  // plus object count and two reserved bytes
constexpr int kMostObjects = 1024;
constexpr int64_t kMostHeaderBytes = 64 << 20;

// One object head at the source's position: its GUID and size.
bool ReadObjectHead(MediaByteSource& source, Guid& guid, uint64_t& size) {
  uint8_t head[kObjectHead];
  if (source.Read(head, kObjectHead) != kObjectHead) return false;
  std::memcpy(guid.data(), head, guid.size());
  size = LoadLE64(head + 16);
  return true;
}

bool ScanHeader(MediaByteSource& source, int64_t start) {
  Guid guid;
  uint64_t header_size = 0;
  if (!ReadObjectHead(source, guid, header_size) || guid != kHeaderObject) return false;
  const int64_t end =
      start + static_cast<int64_t>(std::min<uint64_t>(header_size, kMostHeaderBytes));
  int64_t at = start + kHeaderHead;
  for (int i = 0; i < kMostObjects && at + kObjectHead <= end; ++i) {
    uint64_t size = 0;
    if (source.Seek(at, MediaByteSource::kBegin) != at || !ReadObjectHead(source, guid, size))
      return false;
    if (guid == kContentEncryption || guid == kExtendedContentEncryption) return true;
    if (size < kObjectHead || size > static_cast<uint64_t>(end - at)) return false;
    at += static_cast<int64_t>(size);
  }
  return false;
}

}  // namespace

bool AsfHeaderIsProtected(MediaByteSource& source) {
  const int64_t start = source.Seek(0, MediaByteSource::kCurrent);
  if (start < 0) return false;
  const bool found = ScanHeader(source, start);
  source.Seek(start, MediaByteSource::kBegin);
  return found;
}

}  // namespace pmx
