#include "tests/audio/streaming/libav_files.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
}

#include <cstring>
#include <memory>

namespace pmx::test {
namespace {

struct Encoder {
  ~Encoder() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    if (format != nullptr) avio_closep(&format->pb);
    avformat_free_context(format);
  }
  // Sends frame (null: the end) and writes every packet that comes out.
  bool Send(const AVFrame* f) {
    if (avcodec_send_frame(codec, f) < 0) return false;
    while (avcodec_receive_packet(codec, packet) >= 0) {
      av_packet_rescale_ts(packet, codec->time_base, format->streams[0]->time_base);
      packet->stream_index = 0;
      if (av_interleaved_write_frame(format, packet) < 0) return false;
    }
    return true;
  }

  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
};

bool OpenEncoder(Encoder& e, const std::filesystem::path& path, int channels, int rate) {
  const AVCodec* wma = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (wma == nullptr || avformat_alloc_output_context2(&e.format, nullptr, "asf", path.c_str()) < 0)
    return false;
  e.codec = avcodec_alloc_context3(wma);
  e.codec->sample_fmt = AV_SAMPLE_FMT_FLTP;
  e.codec->sample_rate = rate;
  e.codec->bit_rate = 128000;
  e.codec->time_base = {1, rate};
  av_channel_layout_default(&e.codec->ch_layout, channels);
  if (e.format->oformat->flags & AVFMT_GLOBALHEADER) e.codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVStream* stream = avformat_new_stream(e.format, nullptr);
  return avcodec_open2(e.codec, wma, nullptr) >= 0 && stream != nullptr &&
         avcodec_parameters_from_context(stream->codecpar, e.codec) >= 0 &&
         avio_open(&e.format->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0;
}

// Frame number n of the samples, the last one padded with silence.
bool FillFrame(Encoder& e, const std::vector<int16_t>& samples, int channels, int64_t first) {
  AVFrame& f = *e.frame;
  av_frame_unref(&f);
  f.nb_samples = e.codec->frame_size;
  f.format = e.codec->sample_fmt;
  f.sample_rate = e.codec->sample_rate;
  f.pts = first;
  if (av_channel_layout_copy(&f.ch_layout, &e.codec->ch_layout) < 0 ||
      av_frame_get_buffer(&f, 0) < 0)
    return false;
  const int64_t frames = static_cast<int64_t>(samples.size()) / channels;
  for (int c = 0; c < channels; ++c) {
    auto* plane = reinterpret_cast<float*>(f.extended_data[c]);
    for (int i = 0; i < f.nb_samples; ++i)
      plane[i] = first + i < frames
                     ? samples[static_cast<size_t>((first + i) * channels + c)] / 32768.0f
                     : 0.0f;
  }
  return true;
}

struct Decoder {
  ~Decoder() {
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
  }
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  SwrContext* swr = nullptr;
  AVFrame* frame = av_frame_alloc();
  AVPacket* packet = av_packet_alloc();
  int stream = -1;
};

bool OpenDecoder(Decoder& d, const std::filesystem::path& path) {
  if (avformat_open_input(&d.format, path.c_str(), nullptr, nullptr) < 0 ||
      avformat_find_stream_info(d.format, nullptr) < 0)
    return false;
  const AVCodec* codec = nullptr;
  d.stream = av_find_best_stream(d.format, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
  if (d.stream < 0) return false;
  d.codec = avcodec_alloc_context3(codec);
  if (avcodec_parameters_to_context(d.codec, d.format->streams[d.stream]->codecpar) < 0)
    return false;
  d.codec->pkt_timebase = d.format->streams[d.stream]->time_base;
  return avcodec_open2(d.codec, codec, nullptr) >= 0;
}

void AppendFrame(Decoder& d, int bits, std::vector<uint8_t>& out) {
  const AVFrame& f = *d.frame;
  if (d.swr == nullptr) {
    swr_alloc_set_opts2(&d.swr, &d.frame->ch_layout,
                        bits == 24 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16, f.sample_rate,
                        &d.frame->ch_layout, static_cast<AVSampleFormat>(f.format), f.sample_rate,
                        0, nullptr);
    swr_init(d.swr);
  }
  const int channels = f.ch_layout.nb_channels;
  std::vector<uint8_t> wide(static_cast<size_t>(f.nb_samples) * channels * 4);
  uint8_t* planes[] = {wide.data()};
  const int got = swr_convert(d.swr, planes, f.nb_samples,
                              const_cast<const uint8_t**>(f.extended_data), f.nb_samples);
  for (int i = 0; i < got * channels; ++i) {
    if (bits == 24)
      out.insert(out.end(), &wide[i * 4 + 1], &wide[i * 4 + 4]);
    else
      out.insert(out.end(), &wide[i * 2], &wide[i * 2 + 2]);
  }
}

}  // namespace

bool WriteWma(const std::filesystem::path& path, const std::vector<int16_t>& samples, int channels,
              int rate, const std::map<std::string, std::string>& tags) {
  Encoder e;
  if (!OpenEncoder(e, path, channels, rate)) return false;
  for (const auto& [key, value] : tags)
    av_dict_set(&e.format->metadata, key.c_str(), value.c_str(), 0);
  if (avformat_write_header(e.format, nullptr) < 0) return false;
  const auto frames = static_cast<int64_t>(samples.size()) / channels;
  for (int64_t first = 0; first < frames; first += e.codec->frame_size)
    if (!FillFrame(e, samples, channels, first) || !e.Send(e.frame)) return false;
  return e.Send(nullptr) && av_write_trailer(e.format) >= 0;
}

std::vector<uint8_t> DecodeWithLibav(const std::filesystem::path& path, int bits) {
  Decoder d;
  if (!OpenDecoder(d, path)) return {};
  std::vector<uint8_t> out;
  bool more = true;
  while (more) {
    more = av_read_frame(d.format, d.packet) >= 0;
    if (more && d.packet->stream_index != d.stream) {
      av_packet_unref(d.packet);
      continue;
    }
    avcodec_send_packet(d.codec, more ? d.packet : nullptr);
    av_packet_unref(d.packet);
    while (avcodec_receive_frame(d.codec, d.frame) >= 0) AppendFrame(d, bits, out);
  }
  return out;
}

}  // namespace pmx::test
