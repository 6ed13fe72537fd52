// The Ogg Vorbis reader on any bytes in memory: a clear refusal, or audio in whole
// frames that never runs past the length the reader reports.
#include <cstddef>
#include <cstdint>

#include "audio/streaming/decoded_length.h"
#include "audio/streaming/memory_stream.h"
#include "audio/streaming/streaming.h"
#include "audio/streaming/vorbis_in.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmx::TMemoryStream stream;
  stream.Bytes().assign(data, data + size);
  pmx::TVorbisIn in;
  in.SetStream(&stream);
  try {
    in.Init();
  } catch (const pmx::EAuException&) {
    return 0;
  }
  try {
    for (int pass = 0; pass < 2; ++pass) {
      pmx::FetchAll(in, [&](const uint8_t*, uint32_t bytes) {
        Check(bytes % in.BytesPerFrame() == 0, "whole frames");
        Check(in.Size() <= 0 || in.Position() <= in.Size(), "no audio past the reported length");
      });
      // A second pass from the middle, as a player's seek would.
      if (!in.SeekSample(in.GetLengthSamples() / 2)) break;
    }
  } catch (const pmx::EAuException&) {
    // A damaged stream ends the read with its reason.
  }
  in.Flush();
  return 0;
}
