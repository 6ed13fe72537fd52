#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/media/asf_header.h"
#include "platform/media/av_container.h"
#include "platform/media/av_library.h"
#include "platform/media/media_reader.h"

namespace pmx {
namespace {

// Packets decoded and thrown away before the one a seek aims at, so that the
// decoder's carried-over state (overlap, bit reservoir) is whole again there.
constexpr int kWarmupPackets = 8;
// Samples at least between two remembered packets: a seek decodes up to this
// many more, and an hour of MP3 keeps some 20000 of them.
constexpr int64_t kCheckpointSpacing = 8192;
constexpr int64_t kUnitsPerSecond = 10'000'000;
// What the reader answers for an output whose decoder cannot start.
constexpr uint32_t kDecoderFailed = 0x80004005;

bool SameFormat(const MediaFormat& a, const MediaFormat& b) {
  return a.Channels == b.Channels && a.SampleRate == b.SampleRate &&
         a.BitsPerSample == b.BitsPerSample;
}

// Mono or stereo at 16 bits always; discrete output adds 24 bits and, for more
// than two channels, the stream's own channels. Ascending, so that the widest
// format a rule accepts comes last.
std::vector<MediaFormat> FormatsOf(const MediaFormat& native, bool discrete) {
  const uint16_t two = std::min<uint16_t>(native.Channels, 2);
  std::vector<MediaFormat> formats{{two, native.SampleRate, 16}};
  if (!discrete) return formats;
  formats.push_back({two, native.SampleRate, 24});
  if (native.Channels > 2) {
    formats.push_back({native.Channels, native.SampleRate, 16});
    formats.push_back({native.Channels, native.SampleRate, 24});
  }
  return formats;
}

// The names libav files a header attribute under besides its own.
std::vector<const char*> KeysOf(const std::string& name) {
  static const std::pair<const char*, std::vector<const char*>> kKeys[] = {
      {"Author", {"artist"}},      {"Title", {"title"}},    {"WM/AlbumTitle", {"album"}},
      {"WM/Genre", {"genre"}},     {"WM/Track", {"track"}}, {"WM/Year", {"date", "year"}},
      {"Copyright", {"copyright"}}};
  std::vector<const char*> keys{name.c_str()};
  for (const auto& [own, others] : kKeys)
    if (name == own) keys.insert(keys.end(), others.begin(), others.end());
  return keys;
}

int64_t TimestampOf(const AVPacket& packet) {
  return packet.dts != AV_NOPTS_VALUE ? packet.dts : packet.pts;
}

// A packet met in decoding from the start: where it lies and how many samples
// came out before it.
struct Checkpoint {
  int64_t pos = -1;
  int64_t ts = AV_NOPTS_VALUE;
  int64_t sample = 0;
};

struct Output {
  int stream_index = 0;
  MediaFormat native;
  MediaFormat current;
  bool discrete = false;
};

class AvSyncReader final : public MediaSyncReader {
 public:
  ~AvSyncReader() override { Close(); }

  bool Open(MediaByteSource& source) override;
  void Close() override;

  int OutputCount() const override { return static_cast<int>(outputs_.size()); }
  bool OutputIsAudio(int output) const override { return Valid(output); }
  void SetOutputSetting(int output, const std::string& name, uint32_t value) override;
  std::vector<MediaFormat> OutputFormats(int output) const override {
    return Valid(output) ? FormatsOf(outputs_[output].native, outputs_[output].discrete)
                         : std::vector<MediaFormat>{};
  }
  MediaFormat OutputFormat(int output) const override {
    return Valid(output) ? outputs_[output].current : MediaFormat{};
  }
  bool SetOutputFormat(int output, const MediaFormat& format) override;
  uint16_t StreamNumberForOutput(int output) const override {
    return Valid(output) ? static_cast<uint16_t>(output + 1) : 0;
  }
  uint32_t SetReadStreamSamples(uint16_t stream, bool compressed) override;

  bool GetNextSample(uint16_t stream, std::vector<uint8_t>& sample) override;
  bool SetRange(uint64_t start, int64_t duration) override;

  bool NumberAttribute(uint16_t stream, const std::string& name, uint64_t& value) const override;
  bool TextAttribute(uint16_t stream, const std::string& name, std::string& value) const override;

 private:
  bool Valid(int output) const { return output >= 0 && output < OutputCount(); }
  bool Offers(int output, const MediaFormat& format) const;
  AVFormatContext* Format() const { return container_.Format(); }
  void FindOutputs();
  bool OpenDecoder(const Output& output);
  bool NextFrame();
  bool NextPacket();
  bool NotePacket(const AVPacket& packet);
  bool Convert(std::vector<uint8_t>& sample, int64_t skip);
  bool EnsureResampler();
  bool SeekBackTo(size_t checkpoint);
  const char* Text(const AVDictionary* dictionary, const std::string& name) const;

  AvContainer container_;
  std::vector<Output> outputs_;
  bool protected_ = false;

  // The output being read, its decoder and its conversion.
  int reading_ = -1;
  AvOwned<AVCodecContext> codec_;
  AvOwned<SwrContext> swr_;
  int swr_format_ = -1, swr_rate_ = 0, swr_channels_ = 0;
  AvOwned<AVPacket> packet_;
  AvOwned<AVFrame> frame_;
  std::vector<uint8_t> converted_;
  bool draining_ = false;

  // Decoded-sample positions: decoded_ counts the samples before the next frame
  // while known_; after a seek back, known_ returns at the awaited checkpoint.
  std::vector<Checkpoint> checkpoints_;
  int64_t decoded_ = 0;
  bool known_ = true;
  Checkpoint awaited_;
  int64_t skip_to_ = 0;
};

bool AvSyncReader::Open(MediaByteSource& source) {
  Close();
  if (!AvLib().complete) return false;
  protected_ = AsfHeaderIsProtected(source);
  if (!container_.Open(source)) {
    Close();
    return false;
  }
  FindOutputs();
  return true;
}

void AvSyncReader::FindOutputs() {
  for (unsigned i = 0; i < Format()->nb_streams; ++i) {
    AVStream& stream = *Format()->streams[i];
    stream.discard = AVDISCARD_ALL;
    const AVCodecParameters& p = *stream.codecpar;
    if (p.codec_type != AVMEDIA_TYPE_AUDIO || p.ch_layout.nb_channels <= 0 ||
        p.ch_layout.nb_channels > 255 || p.sample_rate <= 0 ||
        AvLib().avcodec_find_decoder(p.codec_id) == nullptr)
      continue;
    const MediaFormat native{static_cast<uint16_t>(p.ch_layout.nb_channels),
                             static_cast<uint32_t>(p.sample_rate), 16};
    outputs_.push_back({static_cast<int>(i), native, FormatsOf(native, false).front(), false});
  }
}

void AvSyncReader::Close() {
  frame_.reset();
  packet_.reset();
  swr_.reset();
  codec_.reset();
  container_.Close();
  outputs_.clear();
  checkpoints_.clear();
  converted_.clear();
  reading_ = -1;
  swr_format_ = -1;
  draining_ = false;
  decoded_ = skip_to_ = 0;
  known_ = true;
  protected_ = false;
}

void AvSyncReader::SetOutputSetting(int output, const std::string& name, uint32_t value) {
  if (!Valid(output) || name != "EnableDiscreteOutput") return;
  Output& o = outputs_[output];
  o.discrete = value != 0;
  if (!Offers(output, o.current)) o.current = OutputFormats(output).front();
}

bool AvSyncReader::Offers(int output, const MediaFormat& format) const {
  const std::vector<MediaFormat> formats = OutputFormats(output);
  return std::any_of(formats.begin(), formats.end(),
                     [&](const MediaFormat& f) { return SameFormat(f, format); });
}

bool AvSyncReader::SetOutputFormat(int output, const MediaFormat& format) {
  if (reading_ >= 0 || !Offers(output, format)) return false;
  outputs_[output].current = format;
  return true;
}

uint32_t AvSyncReader::SetReadStreamSamples(uint16_t stream, bool) {
  if (protected_) return kProtectedContent;
  const int output = stream - 1;
  if (!Valid(output) || reading_ >= 0 || !OpenDecoder(outputs_[output])) return kDecoderFailed;
  reading_ = output;
  return 0;
}

bool AvSyncReader::OpenDecoder(const Output& output) {
  AVStream& stream = *Format()->streams[output.stream_index];
  const AVCodec* decoder = AvLib().avcodec_find_decoder(stream.codecpar->codec_id);
  codec_.reset(AvLib().avcodec_alloc_context3(decoder));
  packet_.reset(AvLib().av_packet_alloc());
  frame_.reset(AvLib().av_frame_alloc());
  if (!codec_ || !packet_ || !frame_ ||
      AvLib().avcodec_parameters_to_context(codec_.get(), stream.codecpar) < 0)
    return false;
  codec_->pkt_timebase = stream.time_base;
  codec_->thread_count = 1;
  if (AvLib().avcodec_open2(codec_.get(), decoder, nullptr) < 0) return false;
  stream.discard = AVDISCARD_DEFAULT;
  return true;
}

bool AvSyncReader::GetNextSample(uint16_t stream, std::vector<uint8_t>& sample) {
  if (reading_ < 0 || stream != reading_ + 1) return false;
  while (NextFrame()) {
    if (!known_) continue;  // warming up after a seek
    const int64_t skip = std::max<int64_t>(skip_to_ - decoded_, 0);
    decoded_ += frame_->nb_samples;
    if (Convert(sample, skip) && !sample.empty()) return true;
  }
  return false;
}

// The next decoded frame of the stream in frame_; false at its end. A packet the
// decoder refuses is left out.
bool AvSyncReader::NextFrame() {
  for (;;) {
    const int received = AvLib().avcodec_receive_frame(codec_.get(), frame_.get());
    if (received >= 0) return true;
    if (received != AVERROR(EAGAIN) || draining_) return false;
    if (!NextPacket()) {
      draining_ = true;
      AvLib().avcodec_send_packet(codec_.get(), nullptr);
      continue;
    }
    AvLib().avcodec_send_packet(codec_.get(), packet_.get());
    AvLib().av_packet_unref(packet_.get());
  }
}

bool AvSyncReader::NextPacket() {
  const int index = outputs_[reading_].stream_index;
  while (AvLib().av_read_frame(Format(), packet_.get()) >= 0) {
    if (packet_->stream_index == index && NotePacket(*packet_)) return true;
    AvLib().av_packet_unref(packet_.get());
  }
  return false;
}

// Follows the sample count through a packet about to be decoded; false when the
// packet must not be: a seek back went past the packet it aimed at, and reading
// starts again from the first one, where the count is known without a doubt.
bool AvSyncReader::NotePacket(const AVPacket& packet) {
  const int64_t ts = TimestampOf(packet);
  if (!known_ && packet.pos == awaited_.pos && ts == awaited_.ts) {
    known_ = true;
    decoded_ = awaited_.sample;
  } else if (!known_ && packet.pos > awaited_.pos) {
    if (awaited_.sample != 0 && SeekBackTo(0)) return false;
    known_ = true;  // the first packet is missing too: count on from here
    decoded_ = awaited_.sample;
  }
  if (!known_ || packet.pos < 0 || ts == AV_NOPTS_VALUE) return true;
  if (checkpoints_.empty() || (packet.pos > checkpoints_.back().pos &&
                               decoded_ - checkpoints_.back().sample >= kCheckpointSpacing))
    checkpoints_.push_back({packet.pos, ts, decoded_});
  return true;
}

bool AvSyncReader::EnsureResampler() {
  const AVFrame& f = *frame_;
  if (swr_ && f.format == swr_format_ && f.sample_rate == swr_rate_ &&
      f.ch_layout.nb_channels == swr_channels_)
    return true;
  swr_.reset();
  const MediaFormat& out = outputs_[reading_].current;
  AVChannelLayout in_layout{};
  AVChannelLayout out_layout{};
  AvLib().av_channel_layout_default(&in_layout, f.ch_layout.nb_channels);
  AvLib().av_channel_layout_default(&out_layout, out.Channels);
  AVChannelLayout* in =
      f.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC ? &in_layout : &frame_->ch_layout;
  // The stream's own layout when its channels are kept, so nothing is remixed.
  AVChannelLayout* to = out.Channels == f.ch_layout.nb_channels ? in : &out_layout;
  SwrContext* swr = nullptr;
  const bool made = AvLib().swr_alloc_set_opts2(
                        &swr, to, out.BitsPerSample == 24 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16,
                        static_cast<int>(out.SampleRate), in, static_cast<AVSampleFormat>(f.format),
                        f.sample_rate, 0, nullptr) >= 0;
  swr_.reset(swr);
  AvLib().av_channel_layout_uninit(&in_layout);
  AvLib().av_channel_layout_uninit(&out_layout);
  if (!made || AvLib().swr_init(swr) < 0) {
    swr_.reset();
    return false;
  }
  swr_format_ = f.format;
  swr_rate_ = f.sample_rate;
  swr_channels_ = f.ch_layout.nb_channels;
  return true;
}

// The frame in the chosen format, without its first skip samples.
bool AvSyncReader::Convert(std::vector<uint8_t>& sample, int64_t skip) {
  sample.clear();
  if (frame_->nb_samples <= 0 || frame_->sample_rate <= 0 || !EnsureResampler()) return false;
  const MediaFormat& out = outputs_[reading_].current;
  const int wide = out.BitsPerSample == 24 ? 4 : 2;
  const int capacity =
      static_cast<int>(int64_t{frame_->nb_samples} * out.SampleRate / frame_->sample_rate + 1024);
  converted_.resize(static_cast<size_t>(capacity) * out.Channels * wide);
  uint8_t* planes[] = {converted_.data()};
  const int got =
      AvLib().swr_convert(swr_.get(), planes, capacity,
                          const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
  if (got <= skip) return got >= 0;
  const size_t first = static_cast<size_t>(skip) * out.Channels;
  const size_t count = static_cast<size_t>(got) * out.Channels - first;
  if (wide == 2) {
    sample.assign(converted_.begin() + first * 2, converted_.begin() + (first + count) * 2);
    return true;
  }
  // 24 bits: the upper three bytes of each 32-bit sample.
  sample.resize(count * 3);
  for (size_t i = 0; i < count; ++i)
    std::memcpy(&sample[i * 3], &converted_[(first + i) * 4 + 1], 3);
  return true;
}

bool AvSyncReader::SetRange(uint64_t start, int64_t) {
  if (reading_ < 0) return false;
  const MediaFormat& out = outputs_[reading_].current;
  skip_to_ = static_cast<int64_t>(
      std::nearbyint(static_cast<double>(start) * out.SampleRate / kUnitsPerSecond));
  const auto after =
      std::upper_bound(checkpoints_.begin(), checkpoints_.end(), skip_to_,
                       [](int64_t sample, const Checkpoint& c) { return sample < c.sample; });
  // Decoding on from here costs no more than from the nearest checkpoint.
  if (known_ && !draining_ && skip_to_ >= decoded_ &&
      (after == checkpoints_.begin() || std::prev(after)->sample <= decoded_))
    return true;
  if (after == checkpoints_.begin()) return false;  // nothing read that a seek could aim at
  return SeekBackTo(static_cast<size_t>(std::prev(after) - checkpoints_.begin()));
}

bool AvSyncReader::SeekBackTo(size_t checkpoint) {
  const size_t from = checkpoint > kWarmupPackets ? checkpoint - kWarmupPackets : 0;
  if (AvLib().av_seek_frame(Format(), outputs_[reading_].stream_index, checkpoints_[from].ts,
                            AVSEEK_FLAG_BACKWARD) < 0)
    return false;
  AvLib().avcodec_flush_buffers(codec_.get());
  draining_ = false;
  known_ = false;
  awaited_ = checkpoints_[checkpoint];
  return true;
}

bool AvSyncReader::NumberAttribute(uint16_t stream, const std::string& name,
                                   uint64_t& value) const {
  if (!Format() || stream != 0 || name != "Duration" || outputs_.empty()) return false;
  const AVStream& audio = *Format()->streams[outputs_[std::max(reading_, 0)].stream_index];
  if (audio.duration != AV_NOPTS_VALUE && audio.duration > 0 && audio.time_base.den > 0) {
    value = static_cast<uint64_t>(
        std::nearbyint(static_cast<double>(audio.duration) * audio.time_base.num * kUnitsPerSecond /
                       audio.time_base.den));
    return true;
  }
  if (Format()->duration == AV_NOPTS_VALUE || Format()->duration <= 0) return false;
  value = static_cast<uint64_t>(Format()->duration) * (kUnitsPerSecond / AV_TIME_BASE);
  return true;
}

const char* AvSyncReader::Text(const AVDictionary* dictionary, const std::string& name) const {
  for (const char* key : KeysOf(name)) {
    const AVDictionaryEntry* entry = AvLib().av_dict_get(dictionary, key, nullptr, 0);
    if (entry != nullptr && entry->value != nullptr && *entry->value != '\0') return entry->value;
  }
  return nullptr;
}

bool AvSyncReader::TextAttribute(uint16_t stream, const std::string& name,
                                 std::string& value) const {
  if (!Format() || stream != 0) return false;
  const char* text = Text(Format()->metadata, name);
  if (text == nullptr && !outputs_.empty())
    text = Text(Format()->streams[outputs_[std::max(reading_, 0)].stream_index]->metadata, name);
  if (text == nullptr) return false;
  value = text;
  return true;
}

}  // namespace

std::unique_ptr<MediaSyncReader> CreateMediaSyncReader() {
  if (!AvLib().complete) return nullptr;
  return std::make_unique<AvSyncReader>();
}

}  // namespace pmx
