#include "audio/streaming/id3v2_tags.h"

#include <unistd.h>

#include <array>
#include <cstring>

#include "audio/streaming/tag_file_io.h"
#include "platform/byte_order.h"

namespace pmx {
namespace {

struct FrameIds {
  const char* v22;
  const char* v23;
};

constexpr std::array<FrameIds, TId3v2Tags::kRowCount> kIds = {{
    {"TAL", "TALB"}, {"TP1", "TPE1"}, {"TCO", "TCON"}, {"TT2", "TIT2"}, {"TRK", "TRCK"}, {"TYE", "TYER"},
    {"COM", "COMM"}, {"TCM", "TCOM"}, {"TEN", "TENC"}, {"TCR", "TCOP"}, {"TLA", "TLAN"}, {"WXX", "WXXX"},
}};

constexpr size_t kHeaderSize = 10;
constexpr uint8_t kFooterFlag = 0x10;
constexpr int64_t kSyncsafeLimit = int64_t{1} << 28;
constexpr size_t kTagAlign = 16;

enum Encoding : uint8_t { kLatin1 = 0, kUtf16 = 1, kUtf8 = 3 };

struct Header {
  int version = 0;
  uint8_t flags = 0;
  int64_t size = 0;  // after the header, without a footer
};

// Flags a version may not carry.
uint8_t ForbiddenFlags(int version) {
  switch (version) {
    case 2: return 0x3F;
    case 3: return 0x1F;
    case 4: return 0x0F;
    default: return 0xFF;
  }
}

bool ReadHeader(TAuHandle handle, int64_t at, Header& header) {
  std::array<uint8_t, kHeaderSize> b;
  if (at < 0 || !ReadAt(handle, at, b.data(), b.size()) || std::memcmp(b.data(), "ID3", 3) != 0 ||
      b[4] == 0xFF || b[3] < 2 || b[3] > 4 || (b[5] & ForbiddenFlags(b[3])) != 0)
    return false;
  header = {b[3], b[5], 0};
  for (size_t i = 6; i < kHeaderSize; ++i) {
    if (b[i] >= 0x80) return false;
    header.size = (header.size << 7) | b[i];
  }
  return true;
}

void PutBigEndian(std::string& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(value >> shift));
}

// UTF-16 text within its bytes, little-endian unless a byte-order mark says
// otherwise, up to the first zero unit.
WideString DecodeUtf16(std::string_view bytes) {
  bool big_endian = false;
  if (bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")) {
    big_endian = bytes[0] == '\xFE';
    bytes.remove_prefix(2);
  }
  WideString text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto first = static_cast<uint8_t>(bytes[i]), second = static_cast<uint8_t>(bytes[i + 1]);
    const auto unit = static_cast<char16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
    if (unit == 0) break;
    text.push_back(unit);
  }
  return text;
}

std::string_view UpToZero(std::string_view text) { return text.substr(0, text.find('\0')); }

}  // namespace

TId3v2Tags::TId3v2Tags() {
  for (const FrameIds& ids : kIds) {
    AddKey(ids.v22);
    AddKey(ids.v23);
  }
}

const char* TId3v2Tags::Id(Row row) const { return new_ids_ ? kIds[row].v23 : kIds[row].v22; }

bool TId3v2Tags::TagPresent(TAuHandle handle) {
  Header header;
  return handle != kNoHandle && ReadHeader(handle, FilePosition(handle), header);
}

bool TId3v2Tags::ReadFromFile(TAuHandle handle) {
  if (!TAuTags::ReadFromFile(handle)) return false;
  const int64_t start = FilePosition(handle);
  Header header;
  if (!ReadHeader(handle, start, header)) return false;
  new_ids_ = header.version != 2;
  const int64_t end = start + static_cast<int64_t>(kHeaderSize) + header.size +
                      ((header.flags & kFooterFlag) ? static_cast<int64_t>(kHeaderSize) : 0);
  const bool whole = FileSize(handle) >= end;
  if (whole) ReadFrames(handle, header.version, start + static_cast<int64_t>(kHeaderSize), end);
  lseek(handle, end, SEEK_SET);
  return whole;
}

void TId3v2Tags::ReadFrames(TAuHandle handle, int version, int64_t position, int64_t end) {
  const bool v22 = version == 2;
  const int64_t header_size = v22 ? 6 : 10;
  const size_t id_size = v22 ? 3 : 4;
  std::array<uint8_t, 10> h;
  while (end - position >= header_size && ReadAt(handle, position, h.data(), header_size) &&
         h[0] >= 'A' && h[0] <= 'Z') {
    const int64_t size = v22 ? LoadBE(&h[3], 3) : LoadBE(&h[4], 4);
    position += header_size;
    if (size == 0) continue;
    if (size > end - position) return;  // checked before anything is allocated
    // Zero bytes after the data end 8-bit text.
    std::string data(static_cast<size_t>(size) + (v22 ? 1 : 2), '\0');
    if (!ReadAt(handle, position, data.data(), static_cast<size_t>(size))) return;
    position += size;
    StoreFrame(version, std::string_view(reinterpret_cast<const char*>(h.data()), id_size), data,
               static_cast<size_t>(size));
  }
}

void TId3v2Tags::StoreFrame(int version, std::string_view id, const std::string& data, size_t size) {
  for (int row = 0; row < kRowCount; ++row) {
    const char* key = version == 2 ? kIds[row].v22 : kIds[row].v23;
    if (id != key) continue;
    if (row == kComment) return;
    const std::string_view text = std::string_view(data).substr(1, size - 1);
    switch (static_cast<uint8_t>(data[0])) {
      case kLatin1: SetValue(key, std::string(UpToZero(text))); break;
      case kUtf16: SetValue(key, DecodeUtf16(text)); break;
      case kUtf8: SetValue(key, Utf8ToWide(UpToZero(text))); break;
      default: break;  // other encodings leave the value as it was
    }
    return;
  }
}

std::string TId3v2Tags::FrameData(Row row, bool use_utf8) const {
  const TAuTagValue value = GetValue(Id(row));
  if (const auto* wide = std::get_if<WideString>(&value); wide && use_utf8)
    return static_cast<char>(kUtf8) + WideToUtf8(*wide);
  return static_cast<char>(kLatin1) + AsString(Id(row));
}

bool TId3v2Tags::WriteToFile(TAuHandle handle, bool use_utf8) {
  if (!TAuTags::WriteToFile(handle)) return false;
  std::string frames;
  for (int row = 0; row < kRowCount; ++row) {
    if (row == kComment) continue;
    const std::string data = FrameData(static_cast<Row>(row), use_utf8);
    if (data.size() <= 1) continue;  // an empty value gets no frame
    frames += kIds[row].v23;
    PutBigEndian(frames, static_cast<uint32_t>(data.size()));
    frames.append(2, '\0');
    frames += data;
  }
  const size_t padding = kTagAlign - (frames.size() + kHeaderSize) % kTagAlign;
  const auto body = static_cast<int64_t>(frames.size() + padding);
  if (body >= kSyncsafeLimit) return false;
  std::string tag = "ID3";
  tag += {4, 0, 0};
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<char>((body >> shift) & 0x7F));
  tag += frames;
  tag.append(padding, '\0');
  return PrependToFile(handle, tag);
}

}  // namespace pmx
