#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "audio/streaming/au_input.h"
#include "audio/streaming/au_tags.h"
#include "audio/streaming/vorbis_loaders.h"

namespace pmx {

// Decodes an Ogg Vorbis file to 16-bit signed PCM through the run-time bound
// libvorbisfile, which reads the input's stream through callbacks.
//
// Threads: as TAuInput. The GUI thread opens the source (getters, Init) under
// OpenLock; the output's worker decodes under DataLock. The decoder state is only
// touched with OpenLock or DataLock held, by the thread that holds it.
class TVorbisIn : public TAuFileIn {
 public:
  static constexpr int32_t kDecodeBufferSize = 12288;

  using TAuFileIn::TAuFileIn;
  ~TVorbisIn() override;

  TVorbisTags& Comments() { return comments_; }
  int32_t CurrentSection() const { return current_section_; }
  int32_t BitrateUpper() const { return bitrate_upper_; }
  int32_t BitrateNominal() const { return bitrate_nominal_; }
  int32_t BitrateLower() const { return bitrate_lower_; }

 protected:
  void OpenSource() override;
  void CloseSource() override;
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override;
  bool SeekToSample(int64_t& sample) override;

 private:
  static size_t ReadCallback(void* buffer, size_t size, size_t count, void* source);
  static int SeekCallback(void* source, ogg_int64_t offset, int whence);
  static int CloseCallback(void* source);
  static long TellCallback(void* source);

  void OpenStream();
  void TakeStreamInfo();
  void FillDecodeBuffer();

  TVorbisTags comments_;
  OggVorbis_File file_{};
  std::array<uint8_t, kDecodeBufferSize> decode_buffer_{};
  // Set when the decoder has nothing more; what is already decoded is still handed out.
  bool decoder_ended_ = false;
  int32_t current_section_ = -1;
  int32_t bitrate_upper_ = 0;
  int32_t bitrate_nominal_ = 0;
  int32_t bitrate_lower_ = 0;
};

}  // namespace pmx
