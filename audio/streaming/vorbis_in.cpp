#include "audio/streaming/vorbis_in.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "audio/streaming/streaming.h"

namespace pmx {

namespace {

TVorbisIn& Self(void* source) { return *static_cast<TVorbisIn*>(source); }

}  // namespace

TVorbisIn::~TVorbisIn() { CloseSource(); }

size_t TVorbisIn::ReadCallback(void* buffer, size_t size, size_t count, void* source) {
  TStream* stream = Self(source).stream_;
  if (stream == nullptr || size == 0) return 0;
  const int64_t got = stream->Read(buffer, static_cast<int64_t>(size * count));
  return got > 0 ? static_cast<size_t>(got) : 0;
}

// The decoder only tells -1 from anything else; success answers 0 as it documents.
int TVorbisIn::SeekCallback(void* source, ogg_int64_t offset, int whence) {
  TVorbisIn& self = Self(source);
  if (!self.seekable_ || self.stream_ == nullptr) return -1;
  const TStream::Origin origin =
      whence == 1 ? TStream::soCurrent : whence == 2 ? TStream::soEnd : TStream::soBeginning;
  return self.stream_->Seek(offset, origin) < 0 ? -1 : 0;
}

int TVorbisIn::CloseCallback(void* source) {
  Self(source).ReleaseStream();
  return 0;
}

long TVorbisIn::TellCallback(void* source) {
  TStream* stream = Self(source).stream_;
  return stream == nullptr ? -1 : static_cast<long>(stream->Position());
}

void TVorbisIn::OpenStream() {
  try {
    OpenOwnStream();
  } catch (const std::exception&) {
    throw EAuException("Failed to open stream");
  }
}

void TVorbisIn::OpenSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ != 0) return;
  LoadVorbisLibraries();
  OpenStream();
  const ov_callbacks callbacks{&ReadCallback, &SeekCallback, &CloseCallback, &TellCallback};
  file_ = OggVorbis_File{};
  const int result = VorbisFileLib.ov_open_callbacks(this, &file_, nullptr, 0, callbacks);
  if (result != 0) {
    // A failed open leaves the source to us.
    ReleaseStream();
    throw EAuException("Failed to open an ogg file: " + std::to_string(result));
  }
  try {
    TakeStreamInfo();
  } catch (...) {
    VorbisFileLib.ov_clear(&file_);
    throw;
  }
  current_section_ = -1;
  decoder_ended_ = false;
  open_count_ = 1;
}

void TVorbisIn::TakeStreamInfo() {
  comments_.Clear();
  if (const vorbis_comment* comment = VorbisFileLib.ov_comment(&file_, -1)) {
    for (int i = 0; i < comment->comments; ++i) {
      if (comment->user_comments[i] == nullptr) continue;
      StoreVorbisComment(comments_, std::string_view(comment->user_comments[i],
                                                     static_cast<size_t>(comment->comment_lengths[i])));
    }
  }
  const vorbis_info* info = VorbisFileLib.ov_info(&file_, -1);
  if (info == nullptr || info->channels <= 0 || info->rate <= 0)
    throw EAuException("Failed to open an ogg file: " + std::to_string(OV_EBADHEADER));
  channels_ = info->channels;
  sample_rate_ = static_cast<int32_t>(info->rate);
  bitrate_upper_ = static_cast<int32_t>(info->bitrate_upper);
  bitrate_nominal_ = static_cast<int32_t>(info->bitrate_nominal);
  bitrate_lower_ = static_cast<int32_t>(info->bitrate_lower);
  bits_per_sample_ = 16;
  // A stream whose length the decoder cannot tell is read to its end.
  const ogg_int64_t total = VorbisFileLib.ov_pcm_total(&file_, -1);
  size_ = total > 0 ? total * 2 * channels_ : 0;
}

void TVorbisIn::CloseSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ > 0) VorbisFileLib.ov_clear(&file_);
  open_count_ = 0;
}

void TVorbisIn::FillDecodeBuffer() {
  decode_index_ = 1;
  decode_filled_ = 0;
  while (!decoder_ended_ && decode_filled_ < kDecodeBufferSize) {
    int section = current_section_;
    const long got = VorbisFileLib.ov_read(&file_, reinterpret_cast<char*>(decode_buffer_.data()) + decode_filled_,
                                           kDecodeBufferSize - decode_filled_, 0, 2, 1, &section);
    current_section_ = section;
    if (got <= 0) {
      decoder_ended_ = true;
      break;
    }
    decode_filled_ += static_cast<int32_t>(got);
    const int64_t size = size_;
    if (size > 0 && position_ + decode_filled_ >= size) {
      decode_filled_ = static_cast<int32_t>(std::max<int64_t>(0, size - position_));
      if (decode_filled_ == 0) decoder_ended_ = true;
      break;
    }
  }
}

void TVorbisIn::ReadData(const uint8_t*& buffer, uint32_t& bytes) {
  if (!busy_) throw EAuException("The Stream is not opened");
  if (decode_index_ > decode_filled_) FillDecodeBuffer();
  bytes = std::min<uint32_t>(bytes, static_cast<uint32_t>(decode_filled_ - decode_index_ + 1));
  buffer = decode_buffer_.data() + decode_index_ - 1;
  decode_index_ += static_cast<int32_t>(bytes);
}

bool TVorbisIn::SeekToSample(int64_t& sample) {
  OpenSource();
  const bool landed = VorbisFileLib.ov_pcm_seek(&file_, sample) == 0;
  decode_index_ = 1;
  decode_filled_ = 0;
  decoder_ended_ = false;
  return landed;
}

}  // namespace pmx
