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

int64_t DecodedFrames(TAuFileIn& input, const std::string& file_name) {
  input.SetFileName(file_name);
  int64_t bytes = 0;
  try {
    input.Init();
    bytes = FetchAll(input, [](const uint8_t*, uint32_t) {});
  } catch (const EAuException&) {
    bytes = -1;
  }
  const int frame = input.BytesPerFrame();
  if (input.Busy()) input.Flush();
  return bytes >= 0 && frame > 0 ? bytes / frame : -1;
}

}  // namespace pmx
