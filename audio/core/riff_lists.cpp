#include "audio/core/riff_lists.h"

#include <algorithm>
#include <cstring>

#include "platform/byte_order.h"

namespace pmx {
namespace {

constexpr uint32_t kListId = FourCC("LIST");
constexpr uint32_t kInfoType = FourCC("INFO");
constexpr uint32_t kDispId = FourCC("DISP");

// Writes one chunk with the given content (and form type when non-zero).
int WriteChunk(RiffFile& file, uint32_t id, uint32_t form, const std::vector<uint8_t>& content) {
  RiffChunk ck;
  ck.ckid = id;
  ck.fccType = form;
  if (file.CreateChunk(ck, form != 0 ? RiffCreate::List : RiffCreate::Chunk) != RiffResult::Ok) {
    return RIFFERR_FILEERROR;
  }
  if (!content.empty() &&
      file.Write(content.data(), content.size()) != static_cast<int64_t>(content.size())) {
    return RIFFERR_FILEERROR;
  }
  return file.Ascend(ck) == RiffResult::Ok ? RIFFERR_NOERROR : RIFFERR_FILEERROR;
}

}  // namespace

const std::array<uint32_t, kInfoIdCount> kInfoIds = {
    FourCC("IARL"), FourCC("IART"), FourCC("ICMS"), FourCC("ICMT"), FourCC("ICOP"),
    FourCC("ICRD"), FourCC("ICRP"), FourCC("IDIM"), FourCC("IDPI"), FourCC("IENG"),
    FourCC("IGNR"), FourCC("IKEY"), FourCC("ILGT"), FourCC("IMED"), FourCC("INAM"),
    FourCC("IPLT"), FourCC("IPRD"), FourCC("ISBJ"), FourCC("ISFT"), FourCC("ISHP"),
    FourCC("ISRC"), FourCC("ISRF"), FourCC("ITCH")};

void TInfoList::Parse(std::vector<uint8_t> raw) {
  raw_ = std::move(raw);
  fields_ = {};
  const uint64_t end = raw_.size();
  RiffFile walk;
  walk.OpenMemory(raw_);
  for (RiffChunk ck; walk.Descend(ck, nullptr) == RiffResult::Ok && walk.Ascend(ck) == RiffResult::Ok;) {
    const auto row = std::find(kInfoIds.begin(), kInfoIds.end(), ck.ckid);
    if (row != kInfoIds.end() && ck.dwDataOffset < end) {
      TInfoField& field = fields_[static_cast<std::size_t>(row - kInfoIds.begin())];
      field.Offset = static_cast<uint32_t>(ck.dwDataOffset);
      field.Length = static_cast<uint32_t>(std::min<uint64_t>(ck.cksize, end - ck.dwDataOffset));
    }
  }
}

std::string TInfoList::FieldText(std::size_t index) const {
  const TInfoField& field = fields_.at(index);
  if (field.Text) return *field.Text;
  if (field.Offset == 0) return {};
  const char* text = reinterpret_cast<const char*>(raw_.data() + field.Offset);
  return std::string(text, strnlen(text, field.Length));
}

void TInfoList::SetFieldText(std::size_t index, std::string text) {
  fields_.at(index).Text = std::move(text);
}

bool TInfoList::HasText() const {
  for (std::size_t i = 0; i < kInfoIdCount; ++i) {
    if (!FieldText(i).empty()) return true;
  }
  return false;
}

uint64_t TInfoList::WrittenSize() const {
  if (!HasText()) return 0;
  uint64_t size = 12;
  for (std::size_t i = 0; i < kInfoIdCount; ++i) {
    const std::string text = FieldText(i);
    if (!text.empty()) size += 8 + PaddedChunkSize(text.size() + 1);
  }
  return size;
}

int TInfoList::Write(RiffFile& file) const {
  if (!HasText()) return RIFFERR_NOERROR;
  std::vector<uint8_t> content;
  for (std::size_t i = 0; i < kInfoIdCount; ++i) {
    const std::string text = FieldText(i);
    if (text.empty()) continue;
    AppendLE32(content, kInfoIds[i]);
    AppendLE32(content, static_cast<uint32_t>(text.size() + 1));
    content.insert(content.end(), text.begin(), text.end());
    content.resize(content.size() + PaddedChunkSize(text.size() + 1) - text.size(), 0);
  }
  return WriteChunk(file, kListId, kInfoType, content);
}

void TDispList::AddFromChunk(const std::vector<uint8_t>& content) {
  if (content.size() <= 4) return;
  items_.push_back({LoadLE32(content.data()), std::vector<uint8_t>(content.begin() + 4, content.end())});
  data_bytes_ += content.size() - 4;
}

std::vector<uint8_t> DispPayload(const TDispItem& item) {
  const std::vector<uint8_t>& data = item.Data;
  std::size_t length = 0;
  if (item.Type == TDispItem::CF_TEXT) {
    const auto zero = std::find(data.begin(), data.end(), 0);
    std::vector<uint8_t> text(data.begin(), zero);
    text.push_back(0);
    return text;
  }
  if (item.Type == TDispItem::CF_DIB && data.size() >= 40) {
    const uint64_t packed = uint64_t{LoadLE32(data.data())} + LoadLE32(data.data() + 20) +
                            4 * uint64_t{LoadLE32(data.data() + 32)};
    length = static_cast<std::size_t>(std::min<uint64_t>(packed, data.size()));
  }
  return std::vector<uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length));
}

uint64_t TDispList::WrittenSize() const {
  uint64_t size = 0;
  for (const TDispItem& item : items_) {
    const std::size_t payload = DispPayload(item).size();
    if (payload != 0) size += 8 + PaddedChunkSize(4 + payload);
  }
  return size;
}

int TDispList::Write(RiffFile& file) const {
  for (const TDispItem& item : items_) {
    const std::vector<uint8_t> payload = DispPayload(item);
    if (payload.empty()) continue;
    std::vector<uint8_t> content;
    AppendLE32(content, item.Type);
    content.insert(content.end(), payload.begin(), payload.end());
    if (const int result = WriteChunk(file, kDispId, 0, content); result != RIFFERR_NOERROR) {
      return result;
    }
  }
  return RIFFERR_NOERROR;
}

}  // namespace pmx
