// The WAV parser over untrusted bytes: what it accepts must describe data that lies
// inside the input, in whole blocks, with a format nothing divides by zero in.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "audio/core/files/wave_io.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<pmx::TWaveIORecord> rec;
  if (pmx::wioReadInfoFromMemory(rec, std::span<const uint8_t>(data, size)) != 0) return 0;
  const pmx::WaveFormatEx& wfx = rec->wfx;
  Check(wfx.nChannels() != 0 && wfx.nSamplesPerSec() != 0 && wfx.nBlockAlign() != 0 &&
            wfx.nAvgBytesPerSec() != 0,
        "format fields non-zero");
  Check(rec->dwDataBytes % wfx.nBlockAlign() == 0, "data in whole blocks");
  Check(rec->dwDataBytes == 0 || rec->dwDataOffset + rec->dwDataBytes <= size,
        "data inside the input");
  for (std::size_t i = 0; i < pmx::kInfoIdCount; ++i) {
    Check(rec->InfoList.FieldText(i).size() <= size, "INFO text inside the input");
  }
  for (const pmx::TDispItem& item : rec->DispList.Items()) {
    Check(pmx::DispPayload(item).size() <= item.Data.size() + 1, "DISP payload inside its item");
  }
  Check(pmx::wioReopen(rec.get()) == 0, "reopen");
  std::vector<uint8_t> buffer(4096);
  uint64_t total = 0;
  for (int64_t n; (n = pmx::wioRead(rec.get(), buffer.data(), buffer.size())) > 0;) {
    total += static_cast<uint64_t>(n);
  }
  Check(total <= rec->dwDataBytes, "reading stays inside the data");
  Check(wfx.wFormatTag() != pmx::WAVE_FORMAT_PCM || total == rec->dwDataBytes,
        "reading PCM gives the data size");
  Check(pmx::wioSeek(rec.get(), rec->dwTotalSamples / 2) == 0, "seek inside");
  Check(rec->dwBytesLeft >= 0 && static_cast<uint64_t>(rec->dwBytesLeft) <= rec->dwDataBytes,
        "bytes left inside the data");
  return 0;
}
