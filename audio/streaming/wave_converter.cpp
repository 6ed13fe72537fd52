#include "audio/streaming/wave_converter.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "audio/streaming/wav_header.h"
#include "platform/byte_order.h"

namespace pmx {
namespace {

bool ReadExact(TStream& stream, void* buffer, int64_t count) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (int64_t done = 0; done < count;) {
    const int64_t got = stream.Read(bytes + done, count - done);
    if (got <= 0) return false;
    done += got;
  }
  return true;
}

// A format record from a chunk body: at least the 18 bytes of the header, at
// most the buffer's size.
WaveFormatEx FormatOf(std::vector<uint8_t> body) {
  body.resize(std::clamp<size_t>(body.size(), 18, TWaveConverter::kFormatBytes));
  return WaveFormatEx::FromBytes(body);
}

void PutText(std::vector<uint8_t>& out, const char* id) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
}

}  // namespace

bool TWaveConverter::LoadFromWaveStream(TStream& stream) {
  data_.clear();
  std::array<uint8_t, 12> head;
  if (!ReadExact(stream, head.data(), 12) || std::memcmp(head.data(), "RIFF", 4) != 0 ||
      std::memcmp(head.data() + 8, "WAVE", 4) != 0) {
    return false;
  }
  const int64_t end = stream.Size();
  // Chunk ids are searched a byte at a time, so junk between chunks is passed over.
  std::array<uint8_t, 8> chunk{};
  if (!ReadExact(stream, chunk.data(), 8)) return false;
  for (;;) {
    const uint32_t size = LoadLE32(chunk.data() + 4);
    const int64_t left = end - stream.Position();
    if (std::memcmp(chunk.data(), "fmt ", 4) == 0 && size <= left) {
      std::vector<uint8_t> body(size);
      if (!ReadExact(stream, body.data(), size)) break;
      current_ = FormatOf(std::move(body));
    } else if (std::memcmp(chunk.data(), "fact", 4) == 0 && size <= left) {
      stream.Seek(size, TStream::soCurrent);
    } else if (std::memcmp(chunk.data(), "data", 4) == 0) {
      // As far as the file holds it; to its end when the writer died before fixing the size.
      data_.resize(static_cast<size_t>(DataChunkBytes(stream, stream.Position(), size)));
      if (!ReadExact(stream, data_.data(), static_cast<int64_t>(data_.size()))) data_.clear();
      break;
    } else {
      std::memmove(chunk.data(), chunk.data() + 1, 7);
      if (!ReadExact(stream, &chunk[7], 1)) break;
      continue;
    }
    if (!ReadExact(stream, chunk.data(), 8)) break;
  }
  return !data_.empty();
}

MMRESULT TWaveConverter::Convert() {
  HACMSTREAM has = nullptr;
  MMRESULT result = acmStreamOpen(&has, nullptr, current_, new_, ACM_STREAMOPENF_NONREALTIME);
  if (result != MMSYSERR_NOERROR) return result;
  uint32_t out_size = 0;
  result = acmStreamSize(has, static_cast<uint32_t>(data_.size()), out_size, ACM_STREAMSIZEF_SOURCE);
  std::vector<uint8_t> out(result == MMSYSERR_NOERROR ? out_size : 0);
  ACMSTREAMHEADER header;
  header.pbSrc = data_.data();
  header.cbSrcLength = static_cast<uint32_t>(data_.size());
  header.pbDst = out.data();
  header.cbDstLength = out_size;
  if (result == MMSYSERR_NOERROR) result = acmStreamPrepareHeader(has, header, 0);
  if (result == MMSYSERR_NOERROR) {
    // The end flag flushes what the codec holds back, so the tail is not lost.
    result = acmStreamConvert(has, header, ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_END);
    acmStreamUnprepareHeader(has, header, 0);
  }
  acmStreamClose(has, 0);
  if (result != MMSYSERR_NOERROR) return result;
  current_ = new_;
  out.resize(header.cbDstLengthUsed);  // only what the codec produced
  data_ = std::move(out);
  return MMSYSERR_NOERROR;
}

int TWaveConverter::SaveAsWave(TStream& stream) const {
  std::vector<uint8_t> file;
  const auto format = current_.Bytes().first(16);
  PutText(file, "RIFF");
  AppendLE32(file, static_cast<uint32_t>(4 + 8 + 16 + 8 + data_.size()));
  PutText(file, "WAVE");
  PutText(file, "fmt ");
  AppendLE32(file, 16);
  file.insert(file.end(), format.begin(), format.end());
  PutText(file, "data");
  AppendLE32(file, static_cast<uint32_t>(data_.size()));
  file.insert(file.end(), data_.begin(), data_.end());
  int64_t done = 0;
  while (done < static_cast<int64_t>(file.size())) {
    const int64_t put = stream.Write(file.data() + done, static_cast<int64_t>(file.size()) - done);
    if (put <= 0) return kWriteFailed;
    done += put;
  }
  return 0;
}

}  // namespace pmx
