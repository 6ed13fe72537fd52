#include "audio/core/files/mpeg_file.h"

#include <array>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "audio/core/dsp/pcm_support.h"
#include "audio/core/files/file_registry.h"
#include "audio/core/files/wave_io.h"
#include "audio/core/objects/dsp_thread.h"
#include "audio/core/objects/mm_strings.h"
#include "platform/media/mpg123_library.h"
#include "platform/riff_io.h"
#include "platform/ui_hook.h"

namespace pmx {
namespace {

constexpr const char* kLibraryName = "libmpg123.so.0";

// clang-format off
constexpr std::array<const char*, 126> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz",
    "Metal", "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno",
    "Industrial", "Alternative", "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno",
    "Ambient", "Trip-Hop", "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental",
    "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk",
    "Space", "Meditative", "Instrumental Pop", "Instrumental Rock", "Ethnic", "Gothic", "Darkwave",
    "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy",
    "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American",
    "Cabaret", "New Wave", "Psychadelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk",
    "Folk/Rock", "National Folk", "Swing", "Fusion", "Bebob", "Latin", "Revival", "Celtic",
    "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock", "Psychedelic Rock",
    "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic", "Humour",
    "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A capella",
    "Euro-House", "Dance Hall"};
// clang-format on

// A fixed-width tag field without its padding of zeros and blanks.
template <std::size_t N>
std::string Trimmed(const std::array<char, N>& field) {
  std::string text(field.data(), strnlen(field.data(), N));
  while (!text.empty() && (text.back() == ' ' || text.front() == ' ')) {
    if (text.back() == ' ') text.pop_back();
    if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  }
  return text;
}

// Nearest integer, halves to even.
int64_t RoundEven(double value) { return static_cast<int64_t>(std::nearbyint(value)); }

bool IsWave(const std::string& name, uint16_t& tag) {
  std::unique_ptr<TWaveIORecord> record;
  if (wioReadInfo(record, name, FourCC("WAVE"), WIO_MODE_FILE) != WIOERR_NOERROR || !record)
    return false;
  tag = record->wfx.wFormatTag();
  return true;
}

bool IsMpegTag(uint16_t tag) { return tag == 0x50 || tag == 0x55; }

}  // namespace

bool LoadMPEGDecoder() {
  const Mpg123Library& library = Mpg123();
  if (library.Complete()) return true;
  static std::once_flag told;
  std::call_once(told, [&] {
    ShowMessageBox(library.library.Loaded() ? "Invalid Mpeg Decoder DLL version"
                                            : std::string("Unable to load ") + kLibraryName,
                   "");
  });
  return false;
}

std::string MpegGenreName(int number) {
  return number >= 0 && number < static_cast<int>(kGenres.size()) ? kGenres[number] : "";
}

bool IsMpegInWave(const std::string& name) {
  uint16_t tag = 0;
  return IsWave(name, tag) && IsMpegTag(tag);
}

TMMMpeg::TMMMpeg() : decoder_([this] { Changed(); }) {
  if (!LoadMPEGDecoder()) {
    throw EMMMpegError(LoadMMResString(SUnableToLoad) + " " + kLibraryName);
  }
}

TMMMpeg::~TMMMpeg() { CloseFile(); }

void TMMMpeg::Check(int error, const std::string& prefix) const {
  if (error != MpegDecoder::kOk) throw EMMMpegError(prefix + MpegDecoder::ErrorText(error));
}

void TMMMpeg::SetFileName(const std::string& name) {
  CloseFile();
  Check(decoder_.SetFileName(name));
  if (name.empty()) Changed();
}

void TMMMpeg::Changed() {
  if (decoder_.GetEmpty() || decoder_.GetFileInfo(info_) != MpegDecoder::kOk) info_ = {};
  UpdatePCMFormat();
  TMMObject::Changed();
}

void TMMMpeg::UpdatePCMFormat() {
  if (decoder_.GetEmpty()) {
    pcm_.reset();
    return;
  }
  const bool mono = info_.SampleMode == TSampleMode::smSingleChannel ||
                    decoder_.GetChannelMode() != TMpegChannelMode::cmBoth;
  auto format = std::make_unique<WaveFormatEx>();
  FillPCMFormat(*format, 16, mono ? 1 : 2, static_cast<uint32_t>(info_.SampleRate));
  pcm_ = std::move(format);
}

void TMMMpeg::SetTrailingHeader(int32_t bytes) {
  if (bytes == trailing_) return;
  trailing_ = bytes;
  Check(decoder_.SetTrailingHeader(bytes));
}

void TMMMpeg::SetExactPosition(bool exact) {
  exact_ = exact;
  Check(decoder_.SetExactPosition(exact));
}

void TMMMpeg::SetChannelMode(TMpegChannelMode mode) {
  if (open_.load()) throw EMMMpegError(LoadMMResString(SChangePropertyWhileOpen));
  Check(decoder_.SetChannelMode(mode));
  UpdatePCMFormat();
}

void TMMMpeg::OpenFile() {
  if (decoder_.GetEmpty() || open_.load()) return;
  Check(decoder_.OpenFile());
  open_.store(true);
}

void TMMMpeg::CloseFile() {
  if (!open_.exchange(false)) return;
  Check(decoder_.CloseFile());
}

void TMMMpeg::ResetFile() {
  if (open_.load()) Check(decoder_.ResetFile());
}

int64_t TMMMpeg::ReadData(void* buffer, int64_t count) {
  if (!open_.load()) return 0;
  const int64_t got = decoder_.ReadDataBytes(buffer, count);
  if (got < 0) Check(static_cast<int>(-got));
  return got;
}

void TMMMpeg::AbortRead() {
  if (open_.load()) decoder_.AbortReadData();
}

int32_t TMMMpeg::GetBlockSize() const {
  if (!pcm_) return 0;
  const int64_t bytes = RoundEven(pcm_->nAvgBytesPerSec() * info_.MsPerFrame / 1000.0);
  return static_cast<int32_t>(bytes / 4 * 4);
}

void TMMMpeg::SetPosition(int64_t frame) {
  Check(decoder_.SetPosition(frame), std::to_string(frame) + ": ");
}

void TMMMpeg::SetSamplePosition(int64_t sample) {
  Check(decoder_.SetSamplePosition(sample), std::to_string(FrameOf(sample)) + ": ");
}

int64_t TMMMpeg::FrameOf(int64_t sample) const {
  const int64_t per_frame = RoundEven(info_.MsPerFrame * info_.SampleRate / 1000.0);
  return per_frame > 0 ? sample / per_frame : 0;
}

void TMMMpeg::SetTimePosition(int64_t ms) {
  if (info_.SampleRate <= 0) return;
  SetSamplePosition(RoundEven(static_cast<double>(ms) * info_.SampleRate / 1000.0));
}

int64_t TMMMpeg::GetTimePosition() const {
  if (info_.SampleRate <= 0) return 0;
  return RoundEven(static_cast<double>(GetSamplePosition()) * 1000.0 / info_.SampleRate);
}

void TMMMpeg::ScanFile(int32_t a, int32_t b, int32_t c) {
  if (!decoder_.GetEmpty()) Check(decoder_.ScanFile(a, b, c));
}

void TMMMpeg::ScanFileEx(int32_t a, int32_t b) {
  if (!decoder_.GetEmpty()) Check(decoder_.ScanFileEx(a, b));
}

void TMMMpeg::EncryptFile(const std::string& name, int32_t a, int32_t b, int32_t c) {
  Check(decoder_.EncryptFile(name, a, c, b));
}

bool TMMMpeg::ReadID3Tag(TMMID3Tag& tag) const {
  TMpegID3Record raw;
  if (decoder_.GetEmpty() || !decoder_.ReadID3Tag(raw)) return false;
  tag = {};
  tag.Title = Trimmed(raw.Title);
  tag.Artist = Trimmed(raw.Artist);
  tag.Album = Trimmed(raw.Album);
  tag.Year = Trimmed(raw.Year);
  tag.Comment = Trimmed(raw.Comment);
  tag.Track = raw.Track;
  tag.GenreNumber = raw.Genre;
  tag.Genre = MpegGenreName(raw.Genre);
  return true;
}

void TMMMpeg::Assign(const TMMMpeg* source) {
  CloseFile();
  decoder_.Clear();
  if (!source) {
    Changed();
    return;
  }
  SetTrailingHeader(source->TrailingHeader());
  SetChannelMode(source->ChannelMode());
  SetFileName(source->FileName());
  SetSamplePosition(source->GetSamplePosition());
}

TMMMPEGFile::TMMMPEGFile(TComponent* owner)
    : TMMCustomFile(owner), mpeg_(std::make_unique<TMMMpeg>()) {
  PublishLinks(false, true);
  mpeg_->OnChange = [this](TObject*) {
    SetPWaveFormat(mpeg_->GetPCMFormat());
    Changed();
  };
}

TMMMPEGFile::~TMMMPEGFile() { Closed(); }

bool TMMMPEGFile::CanLoad(const std::string& name, const TMMDecryptCallback&, uint8_t) {
  uint16_t tag = 0;
  const bool wave = IsWave(name, tag);
  if (wave) return IsMpegTag(tag) && LoadMPEGDecoder();
  if (!ExtensionAdmitted(name, GetExtensions())) return false;
  if (!NamesAudioSource(name) || !LoadMPEGDecoder()) return false;
  MpegDecoder probe;
  return probe.SetFileName(name) == MpegDecoder::kOk && !probe.GetEmpty();
}

bool TMMMPEGFile::GetFileInfo(const std::string& name, TMMFileInfo& info) {
  info = {};
  uint16_t tag = 0;
  if ((IsWave(name, tag) && !IsMpegTag(tag)) || !LoadMPEGDecoder()) return false;
  TMMMpeg mpeg;
  try {
    mpeg.SetFileName(name);
    if (mpeg.BitRate() == 0 &&
        !std::filesystem::exists(std::filesystem::path(name).replace_extension(".scn"))) {
      mpeg.ScanFile(1, 0, 0);
    }
  } catch (const EMMMpegError&) {
    return false;
  }
  info.FileType = ClassFileType();
  info.FileName = name;
  info.Length = mpeg.Time();
  info.SampleRate = mpeg.SampleRate();
  info.BitRate = mpeg.BitRate();
  info.Channels = mpeg.Mode() == TSampleMode::smSingleChannel ? 1 : 2;
  info.Layer = mpeg.Layer();
  mpeg.ReadID3Tag(info.ID3);
  return true;
}

std::string TMMMPEGFile::GetFilter() {
  return "MPEG Files (*.mp?;*.atx)|*.mp2;*.mp3;*.atx|Antex Files (*.atx)|*.atx";
}

void TMMMPEGFile::AbortRead() { mpeg_->AbortRead(); }

void TMMMPEGFile::SetDecryptCallback(const TMMDecryptCallback& callback) {
  if (callback) throw EMMMpegError(MpegDecoder::ErrorText(MpegDecoder::kNotSupported));
}

void TMMMPEGFile::Opened() {
  TMMCustomFile::Opened();
  if (mpeg_->IsOpen() || mpeg_->GetEmpty()) return;
  saved_sample_ = mpeg_->GetSamplePosition();
  mpeg_->OpenFile();
}

void TMMMPEGFile::Started() {
  TMMCustomFile::Started();
  if (mpeg_->IsOpen() && !started_.exchange(true)) mpeg_->SetSamplePosition(saved_sample_);
}

void TMMMPEGFile::Stopped() {
  if (mpeg_->IsOpen()) started_.store(false);
  TMMCustomFile::Stopped();
}

void TMMMPEGFile::Closed() {
  if (mpeg_->IsOpen()) {
    Stopped();
    mpeg_->CloseFile();
  }
  TMMCustomFile::Closed();
}

void TMMMPEGFile::Load(WAVEHDR* h, bool& MoreBuffers) {
  if (mpeg_->GetEmpty()) {
    h->dwBytesRecorded = 0;
    return;
  }
  if (!started_.load() || !GetEnabled()) {
    std::memset(h->lpData, 0, h->dwBufferLength);
    h->dwBytesRecorded = h->dwBufferLength;
    MoreBuffers = true;
    return;
  }
  h->dwBytesRecorded = static_cast<uint32_t>(mpeg_->ReadData(h->lpData, h->dwBufferLength));
  if (h->dwBytesRecorded == 0) return;
  if (!mpeg_->GetDone()) {
    MoreBuffers = true;
    return;
  }
  if (!h->LoopFlag) return;
  if (h->LoopCount > 0) --h->LoopsRemaining;
  if (h->LoopCount != 0 && h->LoopsRemaining < 0) return;
  mpeg_->ResetFile();
  MoreBuffers = true;
  h->LoopRestart = true;
}

void TMMMPEGFile::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  try {
    Load(lpWaveHdr, MoreBuffers);
  } catch (const std::exception&) {
    bool handled = false;
    if (OnError) SynchronizeDSPCall([this, &handled] { OnError(this, handled); });
    if (!handled) throw;
    lpWaveHdr->dwBytesRecorded = std::min<uint32_t>(4, lpWaveHdr->dwBufferLength);
  }
}

}  // namespace pmx
