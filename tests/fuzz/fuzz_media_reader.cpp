// The general media reader on any bytes: a refusal, or whole frames of the format
// it offers, before and after a seek.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/media/media_reader.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::MediaByteSource;
using pmx::fuzz::Check;

namespace {

class BytesSource : public MediaByteSource {
 public:
  BytesSource(const uint8_t* data, size_t size) : data_(data), size_(static_cast<int64_t>(size)) {}
  int64_t Read(void* buffer, int64_t count) override {
    const int64_t n = std::clamp<int64_t>(size_ - at_, 0, count);
    if (n > 0) std::memcpy(buffer, data_ + at_, static_cast<size_t>(n));
    at_ += n;
    return n;
  }
  int64_t Seek(int64_t offset, Origin origin) override {
    const int64_t to = offset + (origin == kCurrent ? at_ : origin == kEnd ? size_ : 0);
    if (to < 0) return -1;
    return at_ = to;
  }

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t at_ = 0;
};

// Reads a bounded number of buffers; each holds whole frames.
void ReadSome(pmx::MediaSyncReader& reader, uint16_t stream, size_t frame_bytes) {
  std::vector<uint8_t> sample;
  for (int i = 0; i < 64 && reader.GetNextSample(stream, sample); ++i)
    Check(!sample.empty() && sample.size() % frame_bytes == 0, "whole frames");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto reader = pmx::CreateMediaSyncReader();
  BytesSource source(data, size);
  if (!reader || !reader->Open(source) || reader->OutputCount() == 0) return 0;
  const bool discrete = size % 2 == 1;
  reader->SetOutputSetting(0, "EnableDiscreteOutput", discrete);
  const std::vector<pmx::MediaFormat> formats = reader->OutputFormats(0);
  Check(!formats.empty(), "an audio output offers a format");
  const pmx::MediaFormat format = formats.back();
  Check(format.Channels > 0 && format.SampleRate > 0 &&
            (format.BitsPerSample == 16 || format.BitsPerSample == 24),
        "a format that can be played");
  Check(reader->SetOutputFormat(0, format), "an offered format is taken");
  const uint16_t stream = reader->StreamNumberForOutput(0);
  if (reader->SetReadStreamSamples(stream, false) != 0) return 0;
  const size_t frame_bytes = size_t{format.Channels} * format.BitsPerSample / 8;
  ReadSome(*reader, stream, frame_bytes);
  reader->SetRange(size % 3 == 0 ? 0 : 1000, 0);
  ReadSome(*reader, stream, frame_bytes);
  return 0;
}
