#include "audio/core/files/wave_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <vector>

#include "audio/core/dsp/wave_format.h"
#include "audio/core/objects/mul_div.h"
#include "platform/byte_order.h"
#include "platform/codecs/ima_adpcm.h"
#include "platform/codecs/ms_adpcm.h"

namespace pmx {
namespace {

constexpr uint32_t kRiffId = FourCC("RIFF");
constexpr uint32_t kWaveType = FourCC("WAVE");
constexpr uint32_t kFmtId = FourCC("fmt ");
constexpr uint32_t kDataId = FourCC("data");
constexpr uint32_t kFactId = FourCC("fact");
constexpr uint32_t kListId = FourCC("LIST");
constexpr uint32_t kInfoType = FourCC("INFO");
constexpr uint32_t kDispId = FourCC("DISP");
// Larger "fmt " chunks than a full record with 65535 extra bytes are malformed.
constexpr uint64_t kMaxFmtSize = WaveFormatEx::kHeaderSize + 0xFFFF;
// Lists (and DISP chunks together) larger than this are skipped rather than held
// in memory.
constexpr uint64_t kMaxListSize = 16u << 20;

bool IsPcm(const WaveFormatEx& wfx) { return wfx.wFormatTag() == WAVE_FORMAT_PCM; }

// The samples per block of an ADPCM format that agrees with itself; 0 otherwise.
uint16_t AnnouncedSamplesPerBlock(const WaveFormatEx& wfx) {
  return wfx.wFormatTag() == WAVE_FORMAT_IMA_ADPCM ? IMAADPCMSamplesPerBlock(wfx) : MSADPCMSamplesPerBlock(wfx);
}

// PCM fields that follow from others are recomputed; every field a conversion
// divides by must be non-zero.
bool NormaliseFormat(WaveFormatEx& wfx) {
  if (IsPcm(wfx)) {
    wfx = WaveFormatEx::FromBytes(wfx.Bytes().first(WaveFormatEx::kHeaderSize));
    wfx.set_cbSize(0);
    wfx.set_nBlockAlign(static_cast<uint16_t>(uint32_t{wfx.wBitsPerSample()} * wfx.nChannels() / 8));
    wfx.set_nAvgBytesPerSec(wfx.nBlockAlign() * wfx.nSamplesPerSec());
  }
  return wfx.nChannels() != 0 && wfx.nSamplesPerSec() != 0 && wfx.nBlockAlign() != 0 &&
         wfx.nAvgBytesPerSec() != 0 && wfx.ExtraComplete();
}

// Reads size bytes at the position; false on a short read.
bool ReadExactly(RiffFile& file, std::vector<uint8_t>& out, uint64_t size) {
  out.resize(static_cast<std::size_t>(size));
  return size == 0 || file.Read(out.data(), out.size()) == static_cast<int64_t>(size);
}

struct ScanState {
  bool haveFmt = false;
  bool haveData = false;
  bool haveFact = false;
  bool previousWasData = false;
  uint32_t dataField = 0;
  uint64_t dataEnd = 0;
  bool stop = false;
};

int ReadFmt(RiffFile& file, const RiffChunk& ck, TWaveIORecord& rec) {
  if (ck.cksize < 16 || ck.cksize > kMaxFmtSize) return WIOERR_FORMAT;
  std::vector<uint8_t> bytes;
  if (!ReadExactly(file, bytes, ck.cksize)) return WIOERR_FILEERROR;
  rec.wfx = WaveFormatEx::FromBytes(bytes);
  if (ck.cksize == 16) rec.wfx.set_cbSize(0);
  return NormaliseFormat(rec.wfx) ? WIOERR_NOERROR : WIOERR_FORMAT;
}

int ReadList(RiffFile& file, const RiffChunk& ck, TWaveIORecord& rec) {
  if (ck.cksize <= 4 || ck.cksize - 4 > kMaxListSize) return WIOERR_NOERROR;
  std::vector<uint8_t> raw;
  if (!ReadExactly(file, raw, ck.cksize - 4)) return WIOERR_FILEERROR;
  rec.InfoList.Parse(std::move(raw));
  return WIOERR_NOERROR;
}

int ReadDisp(RiffFile& file, const RiffChunk& ck, TWaveIORecord& rec) {
  if (ck.cksize <= 4 || rec.DispList.DataBytes() + ck.cksize > kMaxListSize) return WIOERR_NOERROR;
  std::vector<uint8_t> content;
  if (!ReadExactly(file, content, ck.cksize)) return WIOERR_FILEERROR;
  rec.DispList.AddFromChunk(content);
  return WIOERR_NOERROR;
}

int ReadChunk(RiffFile& file, const RiffChunk& ck, TWaveIORecord& rec, ScanState& s) {
  switch (ck.ckid) {
    case kListId:
      return ck.fccType == kInfoType ? ReadList(file, ck, rec) : WIOERR_NOERROR;
    case kDispId:
      return ReadDisp(file, ck, rec);
    case kFmtId:
      if (s.haveFmt) {
        s.stop = true;
        return WIOERR_NOERROR;
      }
      s.haveFmt = true;
      return ReadFmt(file, ck, rec);
    case kDataId:
      if (s.haveData && s.dataField != 0) {
        s.stop = true;
        return WIOERR_NOERROR;
      }
      s.haveData = s.previousWasData = true;
      s.dataField = ck.cksize;
      rec.dwDataOffset = ck.dwDataOffset;
      return WIOERR_NOERROR;
    case kFactId:
      s.stop = s.haveFact;
      s.haveFact = true;
      return WIOERR_NOERROR;
    default:
      return WIOERR_NOERROR;
  }
}

// Walks the chunks of the RIFF chunk; every chunk is cut to the file's end.
int ScanChunks(RiffFile& file, RiffChunk& riff, uint64_t fileSize, TWaveIORecord& rec,
               ScanState& s) {
  const uint64_t riffEnd = riff.dwDataOffset + riff.cksize;
  while (!s.stop) {
    RiffChunk ck;
    if (file.Descend(ck, &riff) != RiffResult::Ok) break;
    if (s.previousWasData) {
      s.previousWasData = false;
      // A data chunk whose size was never written is followed by its samples.
      if (s.dataField == 0 && !PrintableChunkId(ck.ckid)) break;
      s.dataEnd = ck.dwDataOffset - 8;
    }
    if (ck.dwDataOffset + ck.cksize > riffEnd) {
      if (s.haveFmt && s.haveData) break;
      if (ck.dwDataOffset + ck.cksize > fileSize) {
        ck.cksize = static_cast<uint32_t>(fileSize - ck.dwDataOffset);
      }
    }
    if (const int result = ReadChunk(file, ck, rec, s); result != WIOERR_NOERROR) return result;
    if (file.Ascend(ck) != RiffResult::Ok) {
      if (s.haveData) break;
      return WIOERR_FILEERROR;
    }
  }
  return WIOERR_NOERROR;
}

// The data size: up to the next chunk or the file's end, and the size field when
// it agrees (it may leave out a pad byte), in whole blocks.
uint64_t DataBytes(const TWaveIORecord& rec, const ScanState& s) {
  if (!s.haveData || s.dataEnd < rec.dwDataOffset) return 0;
  uint64_t bytes = s.dataEnd - rec.dwDataOffset;
  if (s.dataField <= bytes && bytes - s.dataField <= 1) bytes = s.dataField;
  return bytes / rec.wfx.nBlockAlign() * rec.wfx.nBlockAlign();
}

int Parse(TWaveIORecord& rec) {
  RiffFile& file = *rec.hmmio;
  const int64_t size = file.Seek(0, SEEK_END);
  if (size < 0 || file.Seek(static_cast<int64_t>(rec.ckRIFF.dwDataOffset + 4), SEEK_SET) < 0) {
    return WIOERR_FILEERROR;
  }
  const uint64_t fileSize = static_cast<uint64_t>(size);
  // A RIFF size that was never written (0) or that claims too much: the file's end.
  if (rec.ckRIFF.cksize == 0 || rec.ckRIFF.dwDataOffset + rec.ckRIFF.cksize > fileSize) {
    rec.ckRIFF.cksize = static_cast<uint32_t>(
        std::min<uint64_t>(fileSize - rec.ckRIFF.dwDataOffset, kMaxRiffFileSize));
  }
  ScanState s;
  s.dataEnd = fileSize;
  if (const int result = ScanChunks(file, rec.ckRIFF, fileSize, rec, s); result != 0) return result;
  if (!s.haveFmt) return WIOERR_FORMAT;
  if (!s.haveData) rec.dwDataOffset = 0;
  rec.dwFileSize = fileSize;
  rec.dwDataBytes = DataBytes(rec, s);
  rec.dwTotalSamples = wioBytesToSamples(rec, static_cast<int64_t>(rec.dwDataBytes));
  rec.dwFirstSample = 0;
  rec.dwLastSample = rec.dwTotalSamples;
  rec.dwBytesLeft = 0;
  rec.dwPosition = 0;
  return WIOERR_NOERROR;
}

int ParseOpened(std::unique_ptr<TWaveIORecord>& out, std::unique_ptr<TWaveIORecord> rec) {
  const int result = Parse(*rec);
  wioClose(rec->hmmio);
  if (result == WIOERR_NOERROR) out = std::move(rec);
  return result;
}

uint64_t TrailerBytes(const TWaveIORecord& rec) {
  return (IsPcm(rec.wfx) ? 0 : 12) + rec.DispList.WrittenSize() + rec.InfoList.WrittenSize();
}

// Puts the data size and the RIFF size of a recording in progress on the disk. The
// sync runs behind, so the writer never waits for a slow disk.
bool UpdateSizesOnDisk(TWaveIORecord& rec) {
  RiffFile& file = *rec.hmmio;
  const uint64_t riffSize = rec.dwDataOffset + rec.dwDataBytes - rec.ckRIFF.dwDataOffset;
  const RiffSizePatch sizes[] = {{rec.ckRIFF, riffSize}, {rec.ckData, rec.dwDataBytes}};
  if (file.PatchSizes(sizes) != RiffResult::Ok || file.SyncBehind() != RiffResult::Ok) {
    return false;
  }
  rec.SizesOnDisk = rec.dwDataBytes;
  return true;
}

bool WriteHeaders(TWaveIORecord& rec) {
  RiffFile& file = *rec.hmmio;
  rec.ckRIFF = RiffChunk{};
  rec.ckRIFF.fccType = kWaveType;
  if (file.CreateChunk(rec.ckRIFF, RiffCreate::Riff) != RiffResult::Ok) return false;
  RiffChunk fmt;
  fmt.ckid = kFmtId;
  const std::size_t fmtSize = IsPcm(rec.wfx) ? 16 : rec.wfx.size();
  if (file.CreateChunk(fmt) != RiffResult::Ok ||
      file.Write(rec.wfx.data(), fmtSize) != static_cast<int64_t>(fmtSize) ||
      file.Ascend(fmt) != RiffResult::Ok) {
    return false;
  }
  rec.ckData = RiffChunk{};
  rec.ckData.ckid = kDataId;
  return file.CreateChunk(rec.ckData) == RiffResult::Ok;
}

bool WriteTrailer(TWaveIORecord& rec) {
  RiffFile& file = *rec.hmmio;
  if (file.Seek(static_cast<int64_t>(rec.dwDataOffset + rec.dwDataBytes), SEEK_SET) < 0 ||
      file.Ascend(rec.ckData) != RiffResult::Ok) {
    return false;
  }
  if (!IsPcm(rec.wfx)) {
    RiffChunk fact;
    fact.ckid = kFactId;
    const uint32_t samples =
        static_cast<uint32_t>(std::min<int64_t>(rec.dwTotalSamples, UINT32_MAX));
    uint8_t bytes[4];
    StoreLE32(bytes, samples);
    if (file.CreateChunk(fact) != RiffResult::Ok || file.Write(bytes, 4) != 4 ||
        file.Ascend(fact) != RiffResult::Ok) {
      return false;
    }
  }
  return rec.DispList.Write(file) == RIFFERR_NOERROR &&
         rec.InfoList.Write(file) == RIFFERR_NOERROR && file.Ascend(rec.ckRIFF) == RiffResult::Ok;
}

}  // namespace

int64_t wioSamplesPerBlock(const TWaveIORecord& rec) {
  if (const uint16_t announced = AnnouncedSamplesPerBlock(rec.wfx)) return announced;
  const WaveFormatEx& f = rec.wfx;
  const double exact = static_cast<double>(f.nSamplesPerSec()) * f.nBlockAlign() / std::max(f.nAvgBytesPerSec(), 1u);
  return std::max<int64_t>(std::llround(exact), 1);
}

int64_t wioBytesToSamples(const TWaveIORecord& rec, int64_t bytes) {
  if (const uint16_t spb = AnnouncedSamplesPerBlock(rec.wfx)) return MulDiv64(bytes, spb, rec.wfx.nBlockAlign());
  return MulDiv64(bytes, rec.wfx.nSamplesPerSec(), rec.wfx.nAvgBytesPerSec());
}

int64_t wioSamplesToBytes(const TWaveIORecord& rec, int64_t samples) {
  if (const uint16_t spb = AnnouncedSamplesPerBlock(rec.wfx)) {
    const int64_t blocks = samples > 0 ? (samples + spb - 1) / spb : samples / spb;
    return blocks * rec.wfx.nBlockAlign();
  }
  return wfSamplesToBytes64(&rec.wfx, samples);
}

int wioOpenFile(std::unique_ptr<RiffFile>& handle, RiffChunk& riff, uint32_t mode,
                uint32_t formType, const std::string& name, std::span<const uint8_t> memory) {
  wioClose(handle);
  auto file = std::make_unique<RiffFile>();
  RiffResult opened = RiffResult::CannotOpen;
  if (mode == WIO_MODE_MEMORY) opened = file->OpenMemory(memory);
  if (mode == WIO_MODE_FILE) opened = file->OpenRead(name);
  if (opened != RiffResult::Ok) return WIOERR_FILEERROR;
  riff = RiffChunk{};
  if (file->Descend(riff, nullptr) != RiffResult::Ok || riff.ckid != kRiffId ||
      riff.fccType != formType) {
    return WIOERR_FILEERROR;
  }
  handle = std::move(file);
  return WIOERR_NOERROR;
}

void wioClose(std::unique_ptr<RiffFile>& handle) { handle.reset(); }

int wioReadInfo(std::unique_ptr<TWaveIORecord>& out, const std::string& name, uint32_t formType,
                uint32_t mode) {
  if (name.empty()) return WIOERR_BADPARAMS;
  auto rec = std::make_unique<TWaveIORecord>();
  rec->dwMode = mode;
  rec->Name = name;
  const int opened = wioOpenFile(rec->hmmio, rec->ckRIFF, mode, formType, name, {});
  if (opened != WIOERR_NOERROR) return opened;
  return ParseOpened(out, std::move(rec));
}

int wioReadInfoFromMemory(std::unique_ptr<TWaveIORecord>& out, std::span<const uint8_t> image) {
  auto rec = std::make_unique<TWaveIORecord>();
  rec->dwMode = WIO_MODE_MEMORY;
  rec->Memory = image;
  const int opened = wioOpenFile(rec->hmmio, rec->ckRIFF, WIO_MODE_MEMORY, kWaveType, {}, image);
  if (opened != WIOERR_NOERROR) return opened;
  return ParseOpened(out, std::move(rec));
}

int wioCreateInfo(std::unique_ptr<TWaveIORecord>& out, PWaveFormatEx pwfx) {
  if (!pwfx || !wfValidFormat(pwfx)) return WIOERR_BADPARAMS;
  auto rec = std::make_unique<TWaveIORecord>();
  rec->wfx = *wfCopyFormat(pwfx);
  if (!NormaliseFormat(rec->wfx)) return WIOERR_BADPARAMS;
  out = std::move(rec);
  return WIOERR_NOERROR;
}

int wioCreateFile(PWaveIORecord rec, const std::string& name) {
  if (!rec || name.empty()) return WIOERR_BADPARAMS;
  wioClose(rec->hmmio);
  auto file = std::make_unique<RiffFile>();
  // Create never takes an existing name, so the file removed on failure is ours.
  if (file->Create(name) != RiffResult::Ok) return WIOERR_FILEERROR;
  rec->hmmio = std::move(file);
  rec->dwMode = WIO_MODE_FILE;
  rec->Created = true;
  rec->Name = name;
  rec->dwDataBytes = rec->SizesOnDisk = 0;
  const uint64_t perSecond = rec->wfx.nAvgBytesPerSec();
  const uint64_t block = rec->wfx.nBlockAlign();
  rec->SizeUpdateBytes = std::max(perSecond * kSizeUpdateSeconds / block * block, block);
  const bool written = WriteHeaders(*rec);
  rec->dwDataOffset = rec->ckData.dwDataOffset;
  if (!written || !UpdateSizesOnDisk(*rec)) {
    const int error = errno;  // the caller's reason
    wioClose(rec->hmmio);
    ::unlink(name.c_str());
    errno = error;
    return WIOERR_FILEERROR;
  }
  rec->dwTotalSamples = rec->dwFirstSample = rec->dwLastSample = 0;
  rec->dwPosition = rec->dwBytesLeft = 0;
  return WIOERR_NOERROR;
}

int wioFreeInfo(std::unique_ptr<TWaveIORecord>& rec) {
  if (!rec) return WIOERR_BADPARAMS;
  // A recording is never left with stale sizes.
  wioFinish(rec.get());
  rec.reset();
  return WIOERR_NOERROR;
}

int wioSetIOBuffer(PWaveIORecord rec, int64_t size) {
  if (!rec) return WIOERR_BADPARAMS;
  if (rec->dwMode != WIO_MODE_FILE || size < 0) return WIOERR_NOERROR;
  if (!rec->hmmio) return WIOERR_FORMAT;
  return rec->hmmio->SetBuffer(static_cast<std::size_t>(size)) == RiffResult::Ok
             ? WIOERR_NOERROR
             : WIOERR_FILEERROR;
}

int wioReopen(PWaveIORecord rec) {
  if (!rec) return WIOERR_BADPARAMS;
  if (!rec->hmmio &&
      wioOpenFile(rec->hmmio, rec->ckRIFF, rec->dwMode, kWaveType, rec->Name, rec->Memory) != 0) {
    return WIOERR_FILEERROR;
  }
  return wioSeek(rec, rec->dwPosition);
}

int wioFinish(PWaveIORecord rec) {
  if (!rec || !rec->hmmio) return WIOERR_NOERROR;
  if (!rec->ckData.dirty) {
    wioClose(rec->hmmio);
    return WIOERR_NOERROR;
  }
  bool ok = rec->hmmio->Flush() == RiffResult::Ok && WriteTrailer(*rec);
  const int64_t size = ok ? rec->hmmio->Seek(0, SEEK_END) : -1;
  ok = ok && size >= 0 && rec->hmmio->Sync() == RiffResult::Ok;
  if (ok) rec->dwFileSize = static_cast<uint64_t>(size);
  rec->dwLastSample = rec->dwTotalSamples;
  ok = rec->hmmio->Close() == RiffResult::Ok && ok;
  wioClose(rec->hmmio);
  rec->dwBytesLeft = rec->dwPosition = 0;
  return ok ? WIOERR_NOERROR : WIOERR_FILEERROR;
}

int wioSeek(PWaveIORecord rec, int64_t sample) {
  if (!rec || sample < 0) return WIOERR_FILEERROR;
  // An empty range seeks to its start.
  sample = std::max<int64_t>(std::min(sample, rec->dwLastSample - rec->dwFirstSample - 1), 0);
  const int64_t block = rec->wfx.nBlockAlign();
  int64_t bytes = wioSamplesToBytes(*rec, rec->dwFirstSample + sample);
  bytes = std::min(bytes, static_cast<int64_t>(rec->dwDataBytes)) / block * block;
  if (rec->hmmio &&
      rec->hmmio->Seek(static_cast<int64_t>(rec->dwDataOffset) + bytes, SEEK_SET) < 0) {
    return WIOERR_FILEERROR;
  }
  if (rec->hmmio) {
    const int64_t end =
        std::min(wioSamplesToBytes(*rec, rec->dwLastSample), static_cast<int64_t>(rec->dwDataBytes));
    rec->dwBytesLeft = std::max<int64_t>(end - bytes, 0);
  }
  rec->dwPosition = wioBytesToSamples(*rec, bytes) - rec->dwFirstSample;
  return WIOERR_NOERROR;
}

int64_t wioRead(PWaveIORecord rec, void* buffer, std::size_t length) {
  if (!rec || !rec->hmmio || rec->dwBytesLeft <= 0) return -1;
  const std::size_t want = static_cast<std::size_t>(
      std::min<uint64_t>(length, static_cast<uint64_t>(rec->dwBytesLeft)));
  const int64_t got = rec->hmmio->Read(buffer, want);
  if (got < 0) return -1;
  if (static_cast<std::size_t>(got) < length) rec->dwBytesLeft = 0;
  if (got > 0) {
    rec->dwBytesLeft = std::max<int64_t>(rec->dwBytesLeft - got, 0);
    rec->dwPosition = (rec->dwLastSample - rec->dwFirstSample) -
                      wioBytesToSamples(*rec, rec->dwBytesLeft);
  }
  return got;
}

int64_t wioWrite(PWaveIORecord rec, const void* buffer, std::size_t length) {
  if (!rec || !rec->hmmio || !rec->Created || length == 0) return -1;
  RiffFile& file = *rec->hmmio;
  const uint64_t dataAfter = std::max<uint64_t>(rec->dwDataBytes, file.Position() + length -
                                                                      rec->dwDataOffset);
  if (rec->dwDataOffset + PaddedChunkSize(dataAfter) + TrailerBytes(*rec) > rec->MaxFileSize) return 0;
  const int64_t written = file.Write(buffer, length);
  if (written == 0) return 0;
  rec->ckData.dirty = true;
  const int64_t bytes = static_cast<int64_t>(file.Position() - rec->dwDataOffset);
  rec->dwPosition = wioBytesToSamples(*rec, bytes);
  rec->dwDataBytes = std::max<uint64_t>(rec->dwDataBytes, static_cast<uint64_t>(bytes));
  rec->dwTotalSamples = std::max(rec->dwTotalSamples, rec->dwPosition);
  rec->dwLastSample = std::max(rec->dwLastSample, rec->dwPosition);
  rec->dwBytesLeft = wioSamplesToBytes(*rec, rec->dwLastSample - rec->dwPosition);
  if (written > 0 && rec->dwDataBytes - rec->SizesOnDisk >= rec->SizeUpdateBytes &&
      !UpdateSizesOnDisk(*rec)) {
    return -1;
  }
  return written;
}

bool wioIsWaveFile(const std::string& name, uint32_t mode) {
  std::unique_ptr<TWaveIORecord> rec;
  return wioReadInfo(rec, name, kWaveType, mode) == WIOERR_NOERROR;
}

bool wioIsValidName(const std::string& name) {
  return !name.empty() && name.size() < PATH_MAX && name.find('\0') == std::string::npos &&
         name.back() != '/';
}

bool wioFileExists(const std::string& name) {
  struct stat st {};
  return !name.empty() && ::stat(name.c_str(), &st) == 0;
}

}  // namespace pmx
