#include "audio/streaming/decoded_length.h"

#include "audio/streaming/streaming.h"

namespace pmx {

int64_t FetchAll(TAuInput& input, const std::function<void(const uint8_t* data, uint32_t bytes)>& take) {
  int64_t total = 0;
  for (;;) {
    const uint8_t* data = nullptr;
    uint32_t bytes = 1 << 16;
    input.FetchData(data, bytes);
    if (bytes == 0) return total;
    total += bytes;
    take(data, bytes);
  }
}

namespace {

// Opens file_name through input and measures what it holds in bytes; whole frames,
// or -1 when it fails.
int64_t MeasuredFrames(TAuFileIn& input, const std::string& file_name, const std::function<int64_t()>& measure) {
  input.SetFileName(file_name);
  int64_t bytes = -1;
  try {
    input.Init();
    bytes = measure();
  } catch (const EAuException&) {
    bytes = -1;
  }
  const int frame = input.BytesPerFrame();
  if (input.Busy()) input.Flush();
  return bytes >= 0 && frame > 0 ? bytes / frame : -1;
}

}  // namespace

int64_t DecodedFrames(TAuFileIn& input, const std::string& file_name) {
  return MeasuredFrames(input, file_name, [&] { return FetchAll(input, [](const uint8_t*, uint32_t) {}); });
}

int64_t StatedFrames(TAuFileIn& input, const std::string& file_name) {
  return MeasuredFrames(input, file_name, [&] { return input.Size(); });
}

}  // namespace pmx
