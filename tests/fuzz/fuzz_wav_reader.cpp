// The WAV reader on any bytes: a clear refusal or audio within the file's bounds.
#include <cstddef>
#include <cstdint>

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/streaming.h"
#include "audio/streaming/wav_in.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static pmx::fuzz::InputFile file;
  pmx::THandleStream stream(file.Load(data, size));
  pmx::TWaveIn in;
  in.SetStream(&stream);
  try {
    in.Init();
  } catch (const pmx::EAuException&) {
    Check(!in.HeaderError().empty() || in.GetChannels() == 0, "a refusal says why");
    return 0;
  }
  // 4-bit ADPCM decodes to four times its bytes; nothing else but MPEG layer-3 grows.
  Check(in.WaveKind() == pmx::TWaveKind::MpegLayer3 || in.Size() <= 4 * static_cast<int64_t>(size),
        "no more audio than the bytes can hold");
  try {
    const int64_t total = pmx::FetchAll(in, [&](const uint8_t*, uint32_t bytes) {
      Check(bytes % in.BytesPerFrame() == 0, "whole frames");
    });
    Check(total == in.Size(), "all that the header promises, within the file");
  } catch (const pmx::EAuException&) {
    // A damaged ADPCM block header ends the read with its reason.
  }
  in.Flush();
  return 0;
}
