#include "tests/support/player_test_support.h"

#include <algorithm>
#include <chrono>

#include "audio/core/chain/wave_out.h"

namespace pmx::test {

std::vector<uint8_t> ReadAll(TMMAudioFile& file, int32_t size) {
  file.Open(size);
  file.Start();
  std::vector<uint8_t> all;
  std::vector<char> buffer(size);
  for (int n = 0; n < 1'000'000; ++n) {
    bool more = false;
    const int32_t got = file.ReadBuffer(buffer.data(), size, more);
    if (got == 0) break;
    all.insert(all.end(), buffer.begin(), buffer.begin() + got);
  }
  return all;
}

bool PlayToEnd(TMMDSPComponent& source, int32_t size, PlainMainLoop& loop) {
  TMMWaveOut out;
  out.SetCallBackMode(TMMCBMode::cmThread);
  out.SetBufferSize(size);
  out.SetNumBuffers(4);
  out.SetInput(&source);
  int stops = 0;
  out.OnStop = [&](TObject*) { ++stops; };
  out.Start();
  const bool stopped = loop.PumpUntil([&] { return stops == 1; }, std::chrono::seconds(60));
  out.Close();
  return stopped;
}

bool EqualAt(const std::vector<uint8_t>& a, std::size_t from_a, const std::vector<uint8_t>& b,
             std::size_t from_b, std::size_t n) {
  return a.size() >= from_a + n && b.size() >= from_b + n &&
         std::equal(a.begin() + static_cast<long>(from_a),
                    a.begin() + static_cast<long>(from_a + n),
                    b.begin() + static_cast<long>(from_b));
}

}  // namespace pmx::test
