#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/streaming/au_file_stream.h"

namespace pmx {

// What a RIFF/WAVE header says, checked field by field.
enum class TWaveKind : uint8_t {
  Unsupported = 0, Pcm = 1, ImaAdpcm = 2, MsAdpcm = 3, MpegLayer3 = 4, IeeeFloat = 5,
  ExtensiblePcm = 6, ExtensibleFloat = 7
};

struct TWaveHeader {
  TWaveKind kind = TWaveKind::Unsupported;
  std::string error;  // why the kind is Unsupported
  uint16_t format_tag = 0;
  int channels = 0;
  int sample_rate = 0;
  int bits_per_sample = 0;
  uint16_t block_align = 0;
  uint16_t samples_per_block = 0;
  uint32_t fact_samples = 0;
  std::vector<int16_t> coefficients;  // MS ADPCM: pairs, flattened
  int64_t data_offset = 0;
  int64_t data_size = 0;  // as far as the file really holds it
  // The data chunk is the file's last and its size field says less than follows
  // it (a recording whose writer died before fixing its header): data_size then
  // runs to the end of the file, and a fact chunk's count is stale too.
  bool size_from_file_end = false;
};

// Scans a WAVE file from the stream's current position: a sliding search for
// "RIFF" and "WAVE", then "fmt ", "fact" (compressed kinds) and "data" within
// the first 8192 bytes. Chunk ids match in any letter case. On a seekable stream
// the data runs to the end of the file unless whole chunks follow it there. Never
// raises; a file it cannot take comes back Unsupported with the reason.
TWaveHeader ReadWaveHeader(TStream& stream, bool seekable);

// The bytes of a data chunk whose body starts at offset and whose size field says
// said: as far as the file holds them, or all to the file's end when no whole
// chunks follow them there. Leaves the stream where it was; seekable streams only.
int64_t DataChunkBytes(TStream& stream, int64_t offset, int64_t said);

}  // namespace pmx
