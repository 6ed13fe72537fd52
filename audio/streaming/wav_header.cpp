#include "audio/streaming/wav_header.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/byte_order.h"
#include "platform/riff_io.h"

namespace pmx {
namespace {

constexpr int64_t kHeaderLimit = 8192;
using ChunkId = std::array<uint8_t, 4>;

// Each pair of bytes equal or apart by exactly 32: ids in any letter case.
bool SameId(const ChunkId& a, const char* b) {
  for (int i = 0; i < 4; ++i) {
    const int d = a[i] - static_cast<uint8_t>(b[i]);
    if (d != 0 && d != 32 && d != -32) return false;
  }
  return true;
}

struct Failure {
  std::string text;
};

// Reads the header bytes, counting them against the limit.
class Scan {
 public:
  Scan(TStream& stream, bool seekable) : stream_(stream), seekable_(seekable) {}

  void Read(void* buffer, int64_t count) {
    CheckLimit(count);
    auto* bytes = static_cast<uint8_t*>(buffer);
    for (int64_t done = 0; done < count;) {
      const int64_t got = stream_.Read(bytes + done, count - done);
      if (got <= 0) throw Failure{"The file ends inside its header"};
      done += got;
    }
    consumed_ += count;
  }
  uint32_t ReadU32() {
    uint8_t b[4];
    Read(b, 4);
    return LoadLE32(b);
  }
  ChunkId ReadId() {
    ChunkId id;
    Read(id.data(), 4);
    return id;
  }
  std::vector<uint8_t> ReadBody(uint32_t count) {
    CheckLimit(count);
    std::vector<uint8_t> body(count);
    Read(body.data(), count);
    return body;
  }
  void Skip(uint32_t count) {
    CheckLimit(count);
    if (seekable_) {
      const int64_t here = stream_.Position();
      if (here < 0 || stream_.Seek(count, TStream::soCurrent) != here + count) throw Failure{"The file ends inside its header"};
      consumed_ += count;
      return;
    }
    ReadBody(count);
  }
  // Slides over the stream a byte at a time until the last four bytes are name.
  void SlideTo(ChunkId& window, const char* name) {
    while (!SameId(window, name)) {
      std::memmove(window.data(), window.data() + 1, 3);
      Read(&window[3], 1);
    }
  }
  // Skips whole chunks until one named name; returns its size.
  uint32_t FindChunk(ChunkId& id, const char* name) {
    while (!SameId(id, name)) {
      Skip(ReadU32());
      id = ReadId();
    }
    return ReadU32();
  }

 private:
  void CheckLimit(int64_t count) const {
    if (consumed_ + count > kHeaderLimit) throw Failure{"No data chunk within the first 8192 bytes of the file"};
  }

  TStream& stream_;
  bool seekable_;
  int64_t consumed_ = 0;
};

TWaveKind KindOfTag(uint16_t tag) {
  switch (tag) {
    case 1: return TWaveKind::Pcm;
    case 2: return TWaveKind::MsAdpcm;
    case 3: return TWaveKind::IeeeFloat;
    case 17: return TWaveKind::ImaAdpcm;
    case 85: return TWaveKind::MpegLayer3;
    case 0xFFFE: return TWaveKind::ExtensiblePcm;
    default: throw Failure{"The file's format (tag " + std::to_string(tag) + ") is not supported"};
  }
}

constexpr uint8_t kSubformatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

TWaveKind ExtensibleKind(const std::vector<uint8_t>& body) {
  if (body.size() < 40) throw Failure{"The extensible format chunk is too short"};
  const uint8_t* guid = body.data() + body.size() - 16;
  if (std::memcmp(guid + 2, kSubformatTail, sizeof kSubformatTail) == 0 && guid[1] == 0) {
    if (guid[0] == 1) return TWaveKind::ExtensiblePcm;
    if (guid[0] == 3) return TWaveKind::ExtensibleFloat;
  }
  throw Failure{"The extensible format's subformat is not supported"};
}

bool IsCompressed(TWaveKind kind) {
  return kind == TWaveKind::ImaAdpcm || kind == TWaveKind::MsAdpcm || kind == TWaveKind::MpegLayer3;
}

void CheckFrame(const TWaveHeader& h, std::initializer_list<int> widths) {
  if (std::find(widths.begin(), widths.end(), h.bits_per_sample) == widths.end()) {
    throw Failure{"Samples of " + std::to_string(h.bits_per_sample) + " bits are not supported"};
  }
  if (h.block_align != h.channels * h.bits_per_sample / 8) throw Failure{"The block alignment does not match the format"};
}

void CheckImaAdpcm(const TWaveHeader& h) {
  const int header = 4 * h.channels;
  if (h.bits_per_sample != 4 || h.channels > 2 || h.block_align <= header) throw Failure{"The IMA ADPCM format is not valid"};
  const int most = (h.block_align - header) * 2 / h.channels + 1;
  if (h.samples_per_block < 1 || h.samples_per_block > most || h.samples_per_block * h.channels * 2 > 16384) {
    throw Failure{"The IMA ADPCM samples per block do not fit its blocks"};
  }
}

void CheckMsAdpcm(const TWaveHeader& h) {
  const int header = 7 * h.channels;
  if (h.bits_per_sample != 4 || h.channels > 2 || h.block_align < header) throw Failure{"The MS ADPCM format is not valid"};
  const int most = (h.block_align - header) * 2 / h.channels + 2;
  if (h.samples_per_block < 2 || h.samples_per_block > most || h.samples_per_block * h.channels * 2 > 16384) {
    throw Failure{"The MS ADPCM samples per block do not fit its blocks"};
  }
}

void CheckMpegLayer3(const TWaveHeader& h) {
  constexpr std::array<int, 9> kRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  if (h.channels > 2 || std::find(kRates.begin(), kRates.end(), h.sample_rate) == kRates.end()) {
    throw Failure{"The MPEG layer-3 format is not valid"};
  }
}

void ParseMsCoefficients(TWaveHeader& h, const std::vector<uint8_t>& body) {
  if (body.size() < 22) throw Failure{"The MS ADPCM format chunk is too short"};
  const uint16_t count = LoadLE16(&body[20]);
  if (count < 1 || count > 32 || body.size() < 22u + 4u * count) throw Failure{"The MS ADPCM coefficient table is not valid"};
  for (size_t i = 0; i < 2u * count; ++i) h.coefficients.push_back(static_cast<int16_t>(LoadLE16(&body[22 + 2 * i])));
}

void ParseFormat(TWaveHeader& h, const std::vector<uint8_t>& body) {
  if (body.size() < 16) throw Failure{"The format chunk is too short"};
  h.format_tag = LoadLE16(&body[0]);
  h.kind = KindOfTag(h.format_tag);
  h.channels = LoadLE16(&body[2]);
  const uint32_t rate = LoadLE32(&body[4]);
  h.block_align = LoadLE16(&body[12]);
  h.bits_per_sample = LoadLE16(&body[14]);
  if (h.channels < 1 || h.channels > 255) throw Failure{"The file's channel count is not valid"};
  if (rate < 1 || rate > 1000000) throw Failure{"The file's sample rate is not valid"};
  h.sample_rate = static_cast<int>(rate);
  if (h.kind == TWaveKind::ExtensiblePcm) h.kind = ExtensibleKind(body);
  if (IsCompressed(h.kind)) {
    if (body.size() < 20) throw Failure{"The format chunk is too short"};
    h.samples_per_block = LoadLE16(&body[18]);
  }
  switch (h.kind) {
    case TWaveKind::Pcm:
    case TWaveKind::ExtensiblePcm: CheckFrame(h, {8, 16, 24, 32}); break;
    case TWaveKind::IeeeFloat:
    case TWaveKind::ExtensibleFloat: CheckFrame(h, {32, 64}); break;
    case TWaveKind::ImaAdpcm: CheckImaAdpcm(h); break;
    case TWaveKind::MpegLayer3: CheckMpegLayer3(h); break;
    case TWaveKind::MsAdpcm:
      CheckMsAdpcm(h);
      ParseMsCoefficients(h, body);
      break;
    default: break;
  }
}

void Parse(Scan& scan, TWaveHeader& h) {
  ChunkId window = scan.ReadId();
  scan.SlideTo(window, "RIFF");
  scan.ReadU32();
  window = scan.ReadId();
  scan.SlideTo(window, "WAVE");
  ChunkId id = scan.ReadId();
  const std::vector<uint8_t> body = scan.ReadBody(scan.FindChunk(id, "fmt "));
  ParseFormat(h, body);
  id = scan.ReadId();
  if (IsCompressed(h.kind)) {
    const uint32_t fact_size = scan.FindChunk(id, "fact");
    if (fact_size < 4) throw Failure{"The fact chunk is too short"};
    h.fact_samples = scan.ReadU32();
    scan.Skip(fact_size - 4);
    id = scan.ReadId();
  }
  h.data_size = scan.FindChunk(id, "data");
}

}  // namespace

TWaveHeader ReadWaveHeader(TStream& stream, bool seekable) {
  TWaveHeader header;
  Scan scan(stream, seekable);
  try {
    Parse(scan, header);
  } catch (const Failure& failure) {
    TWaveHeader refused;
    refused.error = failure.text;
    return refused;
  }
  header.data_offset = seekable ? stream.Position() : 0;
  if (seekable) {
    const int64_t said = header.data_size;
    header.data_size = DataChunkBytes(stream, header.data_offset, said);
    header.size_from_file_end = header.data_size > said;
  }
  return header;
}

int64_t DataChunkBytes(TStream& stream, int64_t offset, int64_t said) {
  const int64_t here = stream.Position();
  const int64_t end = stream.Size();
  const auto read = [&stream](uint64_t at, uint8_t* out, std::size_t length) {
    const auto from = static_cast<int64_t>(at);
    return stream.Seek(from, TStream::soBeginning) == from && stream.Read(out, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  };
  const auto bytes = static_cast<int64_t>(DataChunkBytes(read, static_cast<uint64_t>(offset), static_cast<uint64_t>(said),
                                                         static_cast<uint64_t>(std::max<int64_t>(end, 0))));
  stream.Seek(here, TStream::soBeginning);
  return bytes;
}

}  // namespace pmx
