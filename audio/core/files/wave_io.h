#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "audio/core/files/riff_lists.h"
#include "platform/riff_io.h"
#include "platform/wave_types.h"

namespace pmx {

// Result codes of the wave I/O layer.
constexpr int WIOERR_NOERROR = 0;
constexpr int WIOERR_FORMAT = 101;     // no "fmt " chunk, a malformed one, or no open handle
constexpr int WIOERR_BADPARAMS = 104;  // no record or no name
constexpr int WIOERR_FILEERROR = 106;  // open, read, seek or write failure
constexpr int WIOERR_NOMEM = 107;

// Where a record's bytes come from.
constexpr uint32_t WIO_MODE_FILE = 1;
constexpr uint32_t WIO_MODE_RESOURCE = 2;  // no program resources here: always refused
constexpr uint32_t WIO_MODE_MEMORY = 4;

// The largest file a RIFF size field can describe.
constexpr uint64_t kMaxRiffFileSize = 0xFFFFFFFFu;
// Seconds of sound between two updates of the header sizes on disk while recording.
constexpr uint32_t kSizeUpdateSeconds = 2;

// One parsed or created wave: where its data lies, its playable range and read
// position in samples, its lists and its format. Sizes and positions are 64-bit.
//
// Threads: used by one thread at a time (the GUI thread, or the thread writing a
// recording); no locks.
struct TWaveIORecord {
  uint32_t dwMode = WIO_MODE_FILE;
  std::unique_ptr<RiffFile> hmmio;  // open file, or none while closed
  RiffChunk ckRIFF;
  RiffChunk ckData;
  bool Created = false;  // made by wioCreateFile: the only kind ever written
  uint64_t dwFileSize = 0;
  uint64_t dwDataBytes = 0;
  uint64_t dwDataOffset = 0;
  int64_t dwTotalSamples = 0;
  int64_t dwFirstSample = 0;
  int64_t dwLastSample = 0;
  int64_t dwBytesLeft = 0;
  int64_t dwPosition = 0;
  std::string Name;
  std::span<const uint8_t> Memory;  // the image in memory mode; the caller's bytes
  TDispList DispList;
  TInfoList InfoList;
  WaveFormatEx wfx;
  // Writing stops short of this file size, so the RIFF size can never wrap.
  uint64_t MaxFileSize = kMaxRiffFileSize;
  // Data bytes between header size updates, and the data size last put on disk.
  uint64_t SizeUpdateBytes = 0;
  uint64_t SizesOnDisk = 0;
};

using PWaveIORecord = TWaveIORecord*;

// Opens a file (or the memory image) and descends into its "RIFF" chunk of the
// form type. Existing files are only ever opened for reading.
int wioOpenFile(std::unique_ptr<RiffFile>& handle, RiffChunk& riff, uint32_t mode,
                uint32_t formType, const std::string& name, std::span<const uint8_t> memory);
void wioClose(std::unique_ptr<RiffFile>& handle);

// Parses a wave file into a new record (closed again afterwards).
int wioReadInfo(std::unique_ptr<TWaveIORecord>& out, const std::string& name, uint32_t formType,
                uint32_t mode);
// Parses a wave image held in memory; the bytes must outlive the record.
int wioReadInfoFromMemory(std::unique_ptr<TWaveIORecord>& out, std::span<const uint8_t> image);
// A new record for a file still to be created.
int wioCreateInfo(std::unique_ptr<TWaveIORecord>& out, PWaveFormatEx pwfx);
// Creates the file; an existing name is refused (106) and left untouched.
int wioCreateFile(PWaveIORecord rec, const std::string& name);
int wioFreeInfo(std::unique_ptr<TWaveIORecord>& rec);
int wioSetIOBuffer(PWaveIORecord rec, int64_t size);
int wioReopen(PWaveIORecord rec);
int wioFinish(PWaveIORecord rec);
int wioSeek(PWaveIORecord rec, int64_t sample);
// Bytes read, -1 at the end or on failure.
int64_t wioRead(PWaveIORecord rec, void* buffer, std::size_t length);
// Bytes written; 0 when the file would pass its size limit; -1 on failure.
int64_t wioWrite(PWaveIORecord rec, const void* buffer, std::size_t length);
bool wioIsWaveFile(const std::string& name, uint32_t mode);
bool wioIsValidName(const std::string& name);
bool wioFileExists(const std::string& name);

// The samples one block of a record's format holds: what an ADPCM format
// announces when it fits the block, else what the byte rate gives.
int64_t wioSamplesPerBlock(const TWaveIORecord& rec);
// Sample and byte counts of a record's format in 64 bits: bytes to samples
// truncating, samples to bytes up to a whole block. Block-coded formats count by
// their blocks, since other programs announce byte rates that are rounded or made up.
int64_t wioBytesToSamples(const TWaveIORecord& rec, int64_t bytes);
int64_t wioSamplesToBytes(const TWaveIORecord& rec, int64_t samples);

}  // namespace pmx
