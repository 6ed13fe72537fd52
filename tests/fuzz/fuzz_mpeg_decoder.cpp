// The MPEG decoder on any bytes (a bare stream or MPEG inside a RIFF/WAVE file):
// a clear refusal, or whole 16-bit samples and an end.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/media/mpeg_decoder.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static pmx::fuzz::InputFile file(true);
  const int fd = file.Load(data, size);
  pmx::MpegDecoder decoder;
  if (decoder.SetFileName("/proc/self/fd/" + std::to_string(fd)) != pmx::MpegDecoder::kOk) {
    Check(decoder.GetEmpty(), "a refused file leaves none set");
    return 0;
  }
  pmx::TMpegID3Record tag;
  decoder.ReadID3Tag(tag);
  Check(decoder.OpenFile() == pmx::MpegDecoder::kOk || decoder.GetPosition() == 0,
        "opens or says why");
  std::vector<uint8_t> buffer(4608 * 4);
  int64_t total = 0;
  // Each frame of a few bytes may decode to thousands: stop after a few megabytes.
  while (total < (int64_t{4} << 20)) {
    const int64_t got = decoder.ReadDataBytes(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (got <= 0) break;
    Check(got % 2 == 0 && got <= static_cast<int64_t>(buffer.size()),
          "whole samples within the buffer");
    total += got;
  }
  decoder.SetPosition(3);
  decoder.ReadDataBytes(buffer.data(), static_cast<int64_t>(buffer.size()));
  return 0;
}
