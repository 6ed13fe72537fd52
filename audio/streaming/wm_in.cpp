#include "audio/streaming/wm_in.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "audio/streaming/streaming.h"
#include "audio/streaming/wide_text.h"
#include "audio/streaming/wmvcore_library.h"

namespace pmx {

namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;

int WishOf(TChannelsNumber channels) {
  switch (channels) {
    case cnMaxAvailable: return -1;
    case cn5dot1: return 6;
    case cn7dot1: return 8;
    case cnMonoOrStereo: break;
  }
  return 0;
}

}  // namespace

TWMIn::~TWMIn() { CloseSource(); }

std::unique_ptr<MediaSyncReader> TWMIn::CreateReader() const {
  if (WMVCoreLib.WMCreateSyncReader == nullptr) return nullptr;
  return WMVCoreLib.WMCreateSyncReader();
}

bool TWMIn::OpenReader(bool discrete, int wish) {
  reader_ = Reader{};
  reader_.SyncReader = CreateReader();
  if (!reader_.SyncReader) return false;
  reader_.Stream = std::make_unique<TAudioStream>(*stream_);
  if (!reader_.SyncReader->Open(*reader_.Stream)) {
    stream_->Seek(30, TStream::soBeginning);
    if (!reader_.SyncReader->Open(*reader_.Stream)) {
      reader_ = Reader{};
      return true;
    }
  }
  for (int output = 0; output < reader_.SyncReader->OutputCount(); ++output)
    if (reader_.SyncReader->OutputIsAudio(output)) ChooseFormat(output, discrete, wish);
  if (reader_.Found) {
    reader_.StreamNumber = reader_.SyncReader->StreamNumberForOutput(reader_.OutputNumber);
    if (reader_.SyncReader->SetReadStreamSamples(reader_.StreamNumber, false) == MediaSyncReader::kProtectedContent)
      reader_.Protected = true;
  }
  if (!reader_.SyncReader->NumberAttribute(0, "Duration", reader_.Duration)) reader_.Duration = 0;
  return true;
}

// The last format the rules take wins.
void TWMIn::ChooseFormat(int output, bool discrete, int wish) {
  MediaSyncReader& reader = *reader_.SyncReader;
  MediaFormat& chosen = reader_.Format;
  reader.SetOutputSetting(output, "EnableDiscreteOutput", discrete ? 1 : 0);
  if (wish > 2) reader.SetOutputSetting(output, "SpeakerConfig", static_cast<uint32_t>(wish));
  if (wish == 0) {
    const MediaFormat current = reader.OutputFormat(output);
    chosen.Channels = current.Channels;
    chosen.SampleRate = current.SampleRate;
  }
  for (const MediaFormat& f : reader.OutputFormats(output)) {
    const bool take =
        wish == -1  ? f.Channels >= chosen.Channels && f.SampleRate >= chosen.SampleRate &&
                         f.BitsPerSample >= chosen.BitsPerSample
        : wish > 0 ? f.Channels == wish
                   : f.Channels == chosen.Channels && f.SampleRate == chosen.SampleRate &&
                         f.BitsPerSample >= chosen.BitsPerSample;
    if (!take) continue;
    reader_.Found = true;
    reader_.OutputNumber = output;
    chosen = f;
    reader.SetOutputFormat(output, f);
  }
}

void TWMIn::CloseReader() {
  if (reader_.SyncReader) reader_.SyncReader->Close();
  reader_ = Reader{};
}

void TWMIn::ReadReader(const uint8_t*& buffer, uint32_t& bytes) {
  for (;;) {
    if (reader_.HoldsSample && reader_.Consumed < reader_.Sample.size()) {
      bytes = static_cast<uint32_t>(std::min<size_t>(bytes, reader_.Sample.size() - reader_.Consumed));
      buffer = reader_.Sample.data() + reader_.Consumed;
      reader_.Consumed += bytes;
      return;
    }
    reader_.Consumed = 0;
    reader_.HoldsSample = reader_.SyncReader && reader_.Found &&
                          reader_.SyncReader->GetNextSample(reader_.StreamNumber, reader_.Sample);
    if (!reader_.HoldsSample) {
      buffer = nullptr;
      bytes = 0;
      return;
    }
  }
}

std::string TWMIn::Attribute(const std::string& name) const {
  std::string value;
  if (!reader_.SyncReader || !reader_.SyncReader->TextAttribute(0, name, value)) return {};
  return value;
}

void TWMIn::TakeTags() {
  TId3v2Tags& tags = Id3v2Tags();
  tags.SetArtist(Utf8ToWide(Attribute("Author")));
  tags.SetTitle(Utf8ToWide(Attribute("Title")));
  tags.SetAlbum(Utf8ToWide(Attribute("WM/AlbumTitle")));
  tags.SetGenre(Utf8ToWide(Attribute("WM/Genre")));
  tags.SetTrack(Attribute("WM/Track"));
  tags.SetYear(Attribute("WM/Year"));
  tags.SetComment(Utf8ToWide(Attribute("Copyright")));
}

void TWMIn::OpenSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ != 0) return;
  if (!stream_assigned_ && file_name_.empty()) throw EAuException("File name is not assigned");
  OpenOwnStream();
  channels_ = bits_per_sample_ = sample_rate_ = 0;
  size_ = 0;
  if (!OpenReader(high_precision_, WishOf(output_channels_))) {
    ReleaseStream();
    throw EAuException("Cannot open the file: the media decoding libraries are missing");
  }
  if (!reader_.SyncReader) {
    ReleaseStream();
    return;
  }
  if (reader_.Protected) {
    CloseReader();
    ReleaseStream();
    throw EAuException("File is protected");
  }
  duration_units_ = static_cast<int32_t>(std::nearbyint(static_cast<double>(reader_.Duration) / 100000));
  const MediaFormat format = reader_.Found ? reader_.Format : MediaFormat{};
  channels_ = format.Channels;
  bits_per_sample_ = format.BitsPerSample;
  sample_rate_ = static_cast<int32_t>(format.SampleRate);
  total_samples_ = static_cast<int64_t>(duration_units_ / 100.0 * sample_rate_);
  size_ = total_samples_ * channels_ * (bits_per_sample_ / 8);
  seekable_ = true;
  TakeTags();
  open_count_ = 1;
}

void TWMIn::CloseSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ <= 0) return;
  CloseReader();
  open_count_ = 0;
  ReleaseStream();
}

void TWMIn::ReadData(const uint8_t*& buffer, uint32_t& bytes) {
  const int64_t size = size_;
  if (size > 0) bytes = static_cast<uint32_t>(std::clamp<int64_t>(size - position_, 0, bytes));
  if (bytes == 0) {
    buffer = nullptr;
    return;
  }
  ReadReader(buffer, bytes);
}

// The start comes from the sample and the rate: a size grown past the decoded
// length must not move where a sample lands.
bool TWMIn::SeekToSample(int64_t& sample) {
  if (!busy_ || !reader_.SyncReader || sample_rate_ <= 0) return false;
  const auto start = static_cast<uint64_t>(std::nearbyint(static_cast<double>(sample) * kUnitsPerSecond / sample_rate_));
  reader_.HoldsSample = false;
  reader_.Consumed = 0;
  return reader_.SyncReader->SetRange(start, 0);
}

void TWMIn::Reopen() {
  std::lock_guard lock(OpenLock);
  if (open_count_ == 0) return;
  CloseSource();
  OpenSource();
}

void TWMIn::SetHighPrecision(bool v) {
  if (busy_ || output_channels_ != cnMonoOrStereo) return;
  high_precision_ = v;
  Reopen();
}

void TWMIn::SetOutputChannels(TChannelsNumber v) {
  if (busy_) return;
  output_channels_ = v;
  if (v != cnMonoOrStereo) high_precision_ = true;
  Reopen();
}

void TMP3In::OpenSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ != 0) return;
  TWMIn::OpenSource();
  const int32_t third = sample_rate_ / 3;
  size_ += int64_t{bits_per_sample_ / 8} * channels_ * third;
  total_samples_ += third;
}

}  // namespace pmx
