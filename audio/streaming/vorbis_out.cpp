#include "audio/streaming/vorbis_out.h"

#include <array>
#include <cstring>

#include "audio/streaming/streaming.h"
#include "audio/streaming/wide_text.h"
#include "platform/byte_order.h"

namespace pmx {
namespace {

constexpr std::array<int, 18> kBitsPerSecond = {-1,     24000,  32000,  45000,  48000,  56000,
                                                64000,  80000,  96000,  112000, 128000, 144000,
                                                160000, 192000, 224000, 256000, 320000, 499000};

// One width a loop, so that the conversion is not chosen again for every sample.
template <int Bits>
float SampleAt(const uint8_t* frame, int channel) {
  if constexpr (Bits == 8) return (frame[channel] - 128) / 128.0f;
  if constexpr (Bits == 16) return LoadLES16(frame + channel * 2) / 32768.0f;
  if constexpr (Bits == 32) return static_cast<float>(LoadLES32(frame + channel * 4) / 2147483648.0);
  return LoadLES24(frame + channel * 3) / 8388608.0f;
}

template <int Bits>
void Deinterleave(const uint8_t* data, int frames, int channels, int frame_size, float** buffer) {
  for (int i = 0; i < frames; ++i) {
    const uint8_t* frame = data + static_cast<size_t>(i) * frame_size;
    for (int c = 0; c < channels; ++c) buffer[c][i] = SampleAt<Bits>(frame, c);
  }
}

}  // namespace

int BitsPerSecond(TVorbisBitRate rate) { return kBitsPerSecond.at(static_cast<size_t>(rate)); }

TVorbisOut::TVorbisOut(TComponent* owner) : TAuFileOut(owner) {}

TVorbisOut::~TVorbisOut() { Stop(false); }

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate v) {
  nominal_ = v;
  if (v < minimum_) minimum_ = v;
  if (maximum_ < nominal_) maximum_ = nominal_;
  if (v == TVorbisBitRate::brAutoSelect) maximum_ = TVorbisBitRate::brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate v) {
  if (nominal_ == TVorbisBitRate::brAutoSelect) return;
  if (v == TVorbisBitRate::brAutoSelect || v >= nominal_) maximum_ = v;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate v) {
  if (v <= nominal_) minimum_ = v;
}

void TVorbisOut::PrepareOutput() {
  LoadVorbisLibraries();
  end_of_stream_ = false;
  input_ended_ = false;
  wrote_end_ = false;
  partial_.clear();
  OpenFile();
  Input()->Init();
  if (file_mode_ == TFileOutputMode::foAppend && stream_->Seek(0, TStream::soEnd) < 0) {
    throw EAuException("Could not move to the end of the output file");
  }
  InitEncoder();
}

void TVorbisOut::InitEncoder() {
  channels_ = Input()->GetChannels();
  bits_ = Input()->GetBitsPerSample();
  const int rate = Input()->GetSampleRate();
  // The encoder must never see a format it cannot take.
  if (channels_ < 1 || channels_ > 255 || rate < 1 || bits_ < 8 || bits_ > 32) {
    throw EAuException("The input's format cannot be encoded");
  }
  VorbisLib.vorbis_info_init(&info_);
  stage_ = Stage::Info;
  SetUpEncoder(channels_, rate);
  VorbisLib.vorbis_comment_init(&comment_);
  stage_ = Stage::Comment;
  AddComments();
  if (VorbisLib.vorbis_analysis_init(&dsp_, &info_) != 0) throw EAuException("Vorbis analysis setup failed");
  stage_ = Stage::Dsp;
  VorbisLib.vorbis_block_init(&dsp_, &block_);
  stage_ = Stage::Block;
  OggLib.ogg_stream_init(&stream_state_, serial_);
  stage_ = Stage::Stream;
  WriteHeaders();
}

void TVorbisOut::SetUpEncoder(int channels, int rate) {
  if (nominal_ != TVorbisBitRate::brAutoSelect) {
    const int nominal = BitsPerSecond(nominal_);
    const int minimum = minimum_ == TVorbisBitRate::brAutoSelect ? nominal : BitsPerSecond(minimum_);
    if (VorbisEncLib.vorbis_encode_init(&info_, channels, rate, BitsPerSecond(maximum_), nominal, minimum) != 0) {
      throw EAuException("Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
    }
    return;
  }
  if (VorbisEncLib.vorbis_encode_setup_vbr(&info_, channels, rate, compression_) != 0 ||
      VorbisEncLib.vorbis_encode_setup_init(&info_) != 0) {
    throw EAuException("Vorbis codec setup with the requested quality failed.");
  }
}

void TVorbisOut::AddComments() {
  for (int i = 0; i < comments_.Count(); ++i) {
    const std::string name = comments_.NameAt(i);
    const std::string value = WideToUtf8(comments_.AsWideString(name));
    if (!value.empty()) VorbisLib.vorbis_comment_add_tag(&comment_, name.c_str(), value.c_str());
  }
}

void TVorbisOut::WriteHeaders() {
  ogg_packet identification{}, comments{}, codebooks{};
  if (VorbisLib.vorbis_analysis_headerout(&dsp_, &comment_, &identification, &comments, &codebooks) != 0) {
    throw EAuException("Vorbis header packets could not be made");
  }
  OggLib.ogg_stream_packetin(&stream_state_, &identification);
  OggLib.ogg_stream_packetin(&stream_state_, &comments);
  OggLib.ogg_stream_packetin(&stream_state_, &codebooks);
  while (OggLib.ogg_stream_flush(&stream_state_, &page_) != 0) WritePage();
}

void TVorbisOut::WritePage() {
  WriteAll(page_.header, page_.header_len);
  WriteAll(page_.body, page_.body_len);
}

int TVorbisOut::FillAnalysis(const uint8_t* data, uint32_t bytes) {
  const int frame_size = channels_ * bits_ / 8;
  const int frames = static_cast<int>(bytes / static_cast<uint32_t>(frame_size));
  float** buffer = VorbisLib.vorbis_analysis_buffer(&dsp_, static_cast<int>(kBlockBytes));
  switch (bits_) {
    case 8: Deinterleave<8>(data, frames, channels_, frame_size, buffer); break;
    case 16: Deinterleave<16>(data, frames, channels_, frame_size, buffer); break;
    case 32: Deinterleave<32>(data, frames, channels_, frame_size, buffer); break;
    default: Deinterleave<24>(data, frames, channels_, frame_size, buffer); break;
  }
  return frames;
}

// An input may hand out a piece of a frame; it is kept for the next fetch so that
// no sample is lost or shifted.
const uint8_t* TVorbisOut::WholeFrames(const uint8_t* data, uint32_t& bytes) {
  const uint32_t frame_size = static_cast<uint32_t>(channels_ * bits_ / 8);
  if (partial_.empty() && bytes % frame_size == 0) return data;
  partial_.insert(partial_.end(), data, data + bytes);
  staged_.assign(partial_.begin(), partial_.end() - static_cast<ptrdiff_t>(partial_.size() % frame_size));
  partial_.erase(partial_.begin(), partial_.begin() + static_cast<ptrdiff_t>(staged_.size()));
  bytes = static_cast<uint32_t>(staged_.size());
  return staged_.data();
}

bool TVorbisOut::OutputBlock(bool abort) {
  if (abort || end_of_stream_) return false;
  if (wrote_end_) return false;  // the end was written without its page: nothing more will come
  const uint8_t* data = nullptr;
  uint32_t bytes = kBlockBytes - static_cast<uint32_t>(partial_.size());
  Input()->FetchData(data, bytes);
  int frames = 0;
  if (bytes > 0) {
    data = WholeFrames(data, bytes);
    if (bytes == 0) return true;  // only a piece of a frame so far
    frames = FillAnalysis(data, bytes);
  } else {
    input_ended_ = true;
    wrote_end_ = true;
  }
  VorbisLib.vorbis_analysis_wrote(&dsp_, frames);
  DrainAnalysis();
  return true;
}

void TVorbisOut::DrainAnalysis() {
  while (VorbisLib.vorbis_analysis_blockout(&dsp_, &block_) == 1) {
    VorbisLib.vorbis_analysis(&block_, nullptr);
    VorbisLib.vorbis_bitrate_addblock(&block_);
    while (VorbisLib.vorbis_bitrate_flushpacket(&dsp_, &packet_) == 1) {
      OggLib.ogg_stream_packetin(&stream_state_, &packet_);
      while (!end_of_stream_ && OggLib.ogg_stream_pageout(&stream_state_, &page_) != 0) {
        WritePage();
        if (OggLib.ogg_page_eos(&page_)) end_of_stream_ = true;
      }
    }
  }
}

void TVorbisOut::FinishOutput() {
  ReleaseStream();
  try {
    Input()->Flush();
  } catch (...) {
    ClearCodec();
    throw;
  }
  ClearCodec();
}

void TVorbisOut::ClearCodec() {
  comments_.Clear();
  if (stage_ >= Stage::Stream) OggLib.ogg_stream_clear(&stream_state_);
  if (stage_ >= Stage::Block) VorbisLib.vorbis_block_clear(&block_);
  if (stage_ >= Stage::Dsp) VorbisLib.vorbis_dsp_clear(&dsp_);
  if (stage_ >= Stage::Comment) VorbisLib.vorbis_comment_clear(&comment_);
  if (stage_ >= Stage::Info) VorbisLib.vorbis_info_clear(&info_);
  stage_ = Stage::None;
}

}  // namespace pmx
