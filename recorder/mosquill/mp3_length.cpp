#include "recorder/mosquill/mp3_length.h"

#include <fcntl.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "audio/streaming/tag_file_io.h"
#include "platform/byte_order.h"
#include "platform/unique_fd.h"

namespace pmx {
namespace {

constexpr int kId3v1Size = 128;
constexpr int kHeaderSize = 4;
// From the info tag's "LAME" (or other encoder) string to the 12-bit delay and padding.
constexpr int kDelayOffset = 21;

struct FrameHeader {
  bool mpeg1 = false;
  bool mono = false;
  int rate = 0;
  int length = 0;  // bytes, header included

  int SamplesPerFrame() const { return mpeg1 ? 1152 : 576; }
  int SideInfoSize() const { return mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17); }
};

// A layer III frame header; none for anything else (free format included).
std::optional<FrameHeader> ParseHeader(const uint8_t* p) {
  static constexpr std::array<int, 15> kMpeg1Kbps{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
  static constexpr std::array<int, 15> kMpeg2Kbps{0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
  static constexpr std::array<int, 3> kMpeg1Rates{44100, 48000, 32000};
  const uint32_t h = LoadBE(p, kHeaderSize);
  const uint32_t version = h >> 19 & 3;  // 3 MPEG 1, 2 MPEG 2, 0 MPEG 2.5
  const uint32_t bitrate = h >> 12 & 15;
  const uint32_t rate = h >> 10 & 3;
  if ((h >> 21 & 0x7FF) != 0x7FF || version == 1 || (h >> 17 & 3) != 1 || bitrate == 0 || bitrate == 15 || rate == 3) {
    return std::nullopt;
  }
  FrameHeader f;
  f.mpeg1 = version == 3;
  f.mono = (h >> 6 & 3) == 3;
  f.rate = kMpeg1Rates[rate] >> (version == 3 ? 0 : version == 2 ? 1 : 2);
  const int kbps = (f.mpeg1 ? kMpeg1Kbps : kMpeg2Kbps)[bitrate];
  f.length = (f.mpeg1 ? 144000 : 72000) * kbps / f.rate + static_cast<int>(h >> 9 & 1);
  return f;
}

// The file read by position through a window of its bytes: one system call per
// window, none per frame.
class File {
 public:
  explicit File(const std::string& path)
      : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)), size_(fd_ ? FileSize(fd_.get()) : -1) {}
  bool Open() const { return size_ >= 0; }
  int64_t Size() const { return size_; }
  // count bytes at offset; false at the end of the file.
  bool Read(int64_t offset, uint8_t* out, size_t count) {
    const auto within = [&] { return offset >= start_ && offset + static_cast<int64_t>(count) <= End(); };
    if (!within()) Fill(offset, std::max(count, kWindowBytes));
    if (!within()) return false;
    std::memcpy(out, window_.data() + (offset - start_), count);
    return true;
  }

 private:
  static constexpr size_t kWindowBytes = 1 << 16;

  int64_t End() const { return start_ + static_cast<int64_t>(window_.size()); }
  void Fill(int64_t offset, size_t count) {
    start_ = offset;
    window_.resize(static_cast<size_t>(std::clamp<int64_t>(size_ - offset, 0, static_cast<int64_t>(count))));
    if (!ReadAt(fd_.get(), offset, window_.data(), window_.size())) window_.clear();
  }

  UniqueFd fd_;
  int64_t size_;
  std::vector<uint8_t> window_;
  int64_t start_ = 0;
};

// Where the first frame begins: past an ID3v2 tag, if any.
int64_t FirstFrame(File& file) {
  std::array<uint8_t, 10> tag{};
  if (!file.Read(0, tag.data(), tag.size()) || std::memcmp(tag.data(), "ID3", 3) != 0) return 0;
  const int64_t size = (tag[6] & 0x7F) << 21 | (tag[7] & 0x7F) << 14 | (tag[8] & 0x7F) << 7 | (tag[9] & 0x7F);
  return 10 + size + ((tag[5] & 0x10) != 0 ? 10 : 0);
}

// The encoder's delay plus padding, from the info frame at offset; none when it is
// not an info frame.
std::optional<int> TrimmedSamples(File& file, int64_t offset, const FrameHeader& f) {
  std::vector<uint8_t> frame(static_cast<size_t>(f.length));
  if (!file.Read(offset, frame.data(), frame.size())) return std::nullopt;
  size_t at = kHeaderSize + static_cast<size_t>(f.SideInfoSize());
  if (at + 8 > frame.size() || (std::memcmp(&frame[at], "Xing", 4) != 0 && std::memcmp(&frame[at], "Info", 4) != 0)) {
    return std::nullopt;
  }
  const uint32_t flags = LoadBE(&frame[at + 4], 4);
  at += 8;
  for (const auto& [flag, bytes] : {std::pair{1u, 4u}, std::pair{2u, 4u}, std::pair{4u, 100u}, std::pair{8u, 4u}}) {
    if ((flags & flag) != 0) at += bytes;
  }
  if (at + kDelayOffset + 3 > frame.size()) return std::nullopt;
  const uint32_t delay_padding = LoadBE(&frame[at + kDelayOffset], 3);
  return static_cast<int>((delay_padding >> 12) + (delay_padding & 0xFFF));
}

}  // namespace

std::optional<TMp3Length> StatedMp3Length(const std::string& path) {
  File file(path);
  if (!file.Open()) return std::nullopt;
  const int64_t size = file.Size();
  int64_t offset = FirstFrame(file);
  std::array<uint8_t, kHeaderSize> bytes{};
  if (!file.Read(offset, bytes.data(), bytes.size())) return std::nullopt;
  const std::optional<FrameHeader> first = ParseHeader(bytes.data());
  if (!first) return std::nullopt;
  TMp3Length length;
  length.frame_samples = first->SamplesPerFrame();
  length.rate = first->rate;
  length.trimmed = TrimmedSamples(file, offset, *first);
  if (length.trimmed) offset += first->length;  // the info frame holds no audio
  int64_t frames = 0;
  for (; offset < size; ++frames) {
    const std::optional<FrameHeader> f =
        file.Read(offset, bytes.data(), bytes.size()) ? ParseHeader(bytes.data()) : std::nullopt;
    if (!f) break;
    if (f->rate != first->rate || f->mpeg1 != first->mpeg1) return std::nullopt;
    offset += f->length;
  }
  const bool closed = offset == size || (offset == size - kId3v1Size && std::memcmp(bytes.data(), "TAG", 3) == 0);
  if (!closed) return std::nullopt;
  length.samples = frames * length.frame_samples;
  return length;
}

}  // namespace pmx
