#include "audio/streaming/wav_in.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "audio/core/dsp/acm_support.h"
#include "audio/streaming/adpcm_decode.h"
#include "audio/streaming/streaming.h"
#include "audio/streaming/wave_converter.h"
#include "platform/codecs/acm.h"

namespace pmx {
namespace {

template <class Float>
int32_t ClipToInt32(Float x) {
  if (x >= 1) return INT32_MAX;
  if (!(x > -1)) return INT32_MIN;
  return static_cast<int32_t>(std::floor(static_cast<double>(x) * 2147483647.0));
}

template <class Float>
void FloatsToInt32(uint8_t* data, size_t bytes) {
  const size_t count = bytes / sizeof(Float);
  for (size_t i = 0; i < count; ++i) {
    Float x;
    std::memcpy(&x, data + i * sizeof(Float), sizeof x);
    const int32_t v = ClipToInt32(x);
    std::memcpy(data + i * 4, &v, 4);
  }
}

bool IsAdpcm(TWaveKind kind) { return kind == TWaveKind::ImaAdpcm || kind == TWaveKind::MsAdpcm; }

bool IsFloat(TWaveKind kind) { return kind == TWaveKind::IeeeFloat || kind == TWaveKind::ExtensibleFloat; }

}  // namespace

void SingleToInt32Clip(uint8_t* data, size_t bytes) { FloatsToInt32<float>(data, bytes); }
void DoubleToInt32Clip(uint8_t* data, size_t bytes) { FloatsToInt32<double>(data, bytes); }

TWaveIn::~TWaveIn() { CloseSource(); }

std::string TWaveIn::HeaderError() const { return error_; }

int64_t TWaveIn::StoredDataOffset() const {
  const bool stored = header_.kind == TWaveKind::Pcm || header_.kind == TWaveKind::ExtensiblePcm;
  return stored && seekable_ ? header_.data_offset : -1;
}

void TWaveIn::Refuse(const std::string& reason) {
  error_ = reason;
  header_ = TWaveHeader{};
  size_ = 0;
  bits_per_sample_ = channels_ = sample_rate_ = 0;
}

void TWaveIn::OpenSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ > 0) return;
  float32_ = false;
  error_.clear();
  header_ = TWaveHeader{};
  open_count_ = 1;  // also for a file that is not taken: it is not tried again until closed
  if (!stream_assigned_) {
    try {
      own_stream_ = std::make_unique<TAuFileStream>(file_name_, 0);
    } catch (const EAuException& e) {
      Refuse("Could not open \"" + file_name_ + "\": " + e.what());
      return;
    }
    stream_ = own_stream_.get();
  }
  seekable_ = stream_->Position() >= 0;
  TakeHeader();
}

void TWaveIn::TakeHeader() {
  header_ = ReadWaveHeader(*stream_, seekable_);
  switch (header_.kind) {
    case TWaveKind::Unsupported: return Refuse(header_.error);
    case TWaveKind::MpegLayer3: return TakeMpegLayer3();
    default: break;
  }
  channels_ = header_.channels;
  sample_rate_ = header_.sample_rate;
  bits_per_sample_ = header_.bits_per_sample;
  if (IsAdpcm(header_.kind)) return TakeAdpcm();
  // A piece of a frame at the end is no audio.
  const int64_t frame = int64_t{channels_} * bits_per_sample_ / 8;
  size_ = header_.data_size / frame * frame;
  data_left_ = size_;
  if (IsFloat(header_.kind)) {
    float32_ = header_.bits_per_sample == 32;
    if (!float32_) size_ = size_ / 2;
    bits_per_sample_ = 32;
  }
}

// The samples the fact chunk counts, as far as the data chunk really holds them;
// all that it holds when the writer died before it fixed the header.
void TWaveIn::TakeAdpcm() {
  bits_per_sample_ = 16;
  const int64_t align = header_.block_align;
  const int64_t whole = header_.data_size / align;
  const size_t rest = static_cast<size_t>(header_.data_size % align);
  const int64_t frames = whole * header_.samples_per_block + FramesIn(rest);
  adpcm_frames_ = header_.size_from_file_end ? frames : std::min<int64_t>(header_.fact_samples, frames);
  adpcm_frames_left_ = adpcm_frames_;
  size_ = int64_t{channels_} * 2 * adpcm_frames_;
  data_left_ = header_.data_size;
  block_.resize(header_.block_align);
}

int TWaveIn::FramesIn(size_t block_bytes) const {
  const int frames = header_.kind == TWaveKind::ImaAdpcm ? ImaAdpcmFramesIn(block_bytes, channels_)
                                                         : MsAdpcmFramesIn(block_bytes, channels_);
  return std::min<int>(frames, header_.samples_per_block);
}

uint32_t TWaveIn::DecodeBlock() {
  if (adpcm_frames_left_ <= 0) return 0;  // the fact chunk's count is reached
  const uint32_t got = ReadChunkData(block_.data(), header_.block_align);
  auto* out = reinterpret_cast<int16_t*>(decode_.data());
  const int frames = header_.kind == TWaveKind::ImaAdpcm
                         ? DecodeImaAdpcmBlock(block_.data(), got, channels_, header_.samples_per_block, out)
                         : DecodeMsAdpcmBlock(block_.data(), got, channels_, header_.samples_per_block,
                                              header_.coefficients, out);
  const int64_t taken = std::min<int64_t>(frames, adpcm_frames_left_);
  adpcm_frames_left_ -= taken;
  return static_cast<uint32_t>(taken * channels_ * 2);
}

// The whole file is decoded to PCM in memory, which is then read in its place.
void TWaveIn::TakeMpegLayer3() {
  LoadACM();
  TWaveConverter converter;
  if (!seekable_ || stream_->Seek(0, TStream::soBeginning) != 0 || !converter.LoadFromWaveStream(*stream_)) {
    return Refuse("The MPEG layer-3 audio could not be read");
  }
  converter.NewFormat().set_wFormatTag(1);
  MMRESULT result = acmFormatSuggest(nullptr, converter.CurrentFormat(), converter.NewFormat(),
                                     TWaveConverter::kFormatBytes, ACM_FORMATSUGGESTF_WFORMATTAG);
  if (result == MMSYSERR_NOERROR) result = converter.Convert();
  if (result != MMSYSERR_NOERROR || converter.CurrentFormat().wFormatTag() != 1) {
    return Refuse("The MPEG layer-3 audio could not be decoded (error " + std::to_string(result) + ")");
  }
  converted_ = std::make_unique<TMemoryStream>();
  converter.SaveAsWave(*converted_);
  converted_->Seek(0, TStream::soBeginning);
  file_stream_ = stream_;
  stream_ = converted_.get();
  TakeHeader();
  if (header_.kind == TWaveKind::Pcm) header_.kind = TWaveKind::MpegLayer3;
}

void TWaveIn::CloseSource() {
  std::lock_guard lock(OpenLock);
  if (open_count_ == 0) return;
  if (converted_) {
    stream_ = file_stream_;
    converted_.reset();
  }
  if (own_stream_) {
    own_stream_.reset();
    stream_ = nullptr;
  } else if (stream_ && seekable_) {
    stream_->Seek(0, TStream::soBeginning);
  }
  open_count_ = 0;
}

void TWaveIn::DoInit() {
  if (!busy_ && (stream_assigned_ || !file_name_.empty())) {
    OpenSource();
    if (header_.kind == TWaveKind::Unsupported) {
      const std::string reason = error_;
      CloseSource();
      throw EAuException(reason);
    }
  }
  TAuFileIn::DoInit();
}

uint32_t TWaveIn::ReadChunkData(uint8_t* into, uint32_t count) {
  count = static_cast<uint32_t>(std::min<int64_t>(count, data_left_));
  uint32_t done = 0;
  while (done < count) {
    const int64_t got = stream_->Read(into + done, count - done);
    if (got <= 0) break;
    done += static_cast<uint32_t>(got);
  }
  data_left_ -= done;
  return done;
}

uint32_t TWaveIn::Refill() {
  if (IsAdpcm(header_.kind)) return DecodeBlock();
  if (IsFloat(header_.kind)) {
    const uint32_t step = static_cast<uint32_t>(channels_) * 8;
    const uint32_t got = ReadChunkData(decode_.data(), kDecodeBytes / step * step);
    if (float32_) {
      SingleToInt32Clip(decode_.data(), got);
      return got / 4 * 4;
    }
    DoubleToInt32Clip(decode_.data(), got);
    return got / 8 * 4;
  }
  const uint32_t frame = bytes_per_frame_;
  return ReadChunkData(decode_.data(), kDecodeBytes / frame * frame) / frame * frame;
}

void TWaveIn::ReadData(const uint8_t*& buffer, uint32_t& bytes) {
  if (!busy_) throw EAuException("The Stream is not opened");
  if (decode_index_ > decode_filled_) {
    decode_filled_ = static_cast<int32_t>(Refill());
    decode_index_ = 1;
  }
  const uint32_t frame = bytes_per_frame_;
  bytes = std::min<uint32_t>(bytes / frame * frame, static_cast<uint32_t>(decode_filled_ - decode_index_ + 1));
  buffer = decode_.data() + decode_index_ - 1;
  decode_index_ += static_cast<int32_t>(bytes);
}

bool TWaveIn::SeekToSample(int64_t& sample) {
  decode_index_ = 1;
  decode_filled_ = 0;
  if (!seekable_ || sample < 0) return false;
  int64_t offset = 0;
  if (IsAdpcm(header_.kind)) {
    // Blocks decode only from their start: land at the start of the one that holds sample.
    const int64_t block = sample / header_.samples_per_block;
    sample = block * header_.samples_per_block;
    offset = block * header_.block_align;
    adpcm_frames_left_ = adpcm_frames_ - sample;
  } else if (header_.kind == TWaveKind::Pcm) {
    offset = sample * bytes_per_frame_;
  } else {
    return false;
  }
  if (offset < 0 || offset > header_.data_size) return false;
  if (stream_->Seek(header_.data_offset + offset, TStream::soBeginning) < 0) return false;
  data_left_ = header_.data_size - offset;
  return true;
}

}  // namespace pmx
