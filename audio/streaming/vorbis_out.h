#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "audio/streaming/au_file_out.h"
#include "audio/streaming/au_tags.h"
#include "audio/streaming/vorbis_loaders.h"

namespace pmx {

enum class TVorbisBitRate {
  brAutoSelect, bitrate24, bitrate32, bitrate45, bitrate48, bitrate56, bitrate64, bitrate80, bitrate96,
  bitrate112, bitrate128, bitrate144, bitrate160, bitrate192, bitrate224, bitrate256, bitrate320, bitrate499
};

// Bits per second; -1 for brAutoSelect.
int BitsPerSecond(TVorbisBitRate rate);

// Encodes the PCM of its input (8, 16, 24 or 32 bits) into an Ogg Vorbis file.
//
// Threads: properties are set on the GUI thread while no run goes on; the codec
// states and the stream belong to the worker during a run. EndOfStream and
// InputEnded are atomics, read by anyone once the run is done.
class TVorbisOut : public TAuFileOut {
 public:
  static constexpr uint32_t kBlockBytes = 24576;

  explicit TVorbisOut(TComponent* owner = nullptr);
  ~TVorbisOut() override;

  float Compression() const { return compression_; }
  void SetCompression(float v) { compression_ = v; }
  TVorbisTags& Comments() { return comments_; }
  void SetComments(const TVorbisTags& tags) { comments_.Assign(tags); }
  TVorbisBitRate DesiredNominalBitrate() const { return nominal_; }
  void SetDesiredNominalBitrate(TVorbisBitRate v);
  TVorbisBitRate DesiredMaximumBitrate() const { return maximum_; }
  void SetDesiredMaximumBitrate(TVorbisBitRate v);
  TVorbisBitRate MinimumBitrate() const { return minimum_; }
  void SetMinimumBitrate(TVorbisBitRate v);
  void SetFileMode(TFileOutputMode v) override { file_mode_ = v; }
  int32_t Serial() const { return serial_; }
  void SetSerial(int32_t v) { serial_ = v; }

  // The page with the end-of-stream mark was written by the latest run.
  bool EndOfStream() const { return end_of_stream_.load(); }
  // The latest run took its input to the end.
  bool InputEnded() const { return input_ended_.load(); }

 protected:
  void PrepareOutput() override;
  bool OutputBlock(bool abort) override;
  void FinishOutput() override;

 private:
  // How far the codec states were set up, so that only those are cleared.
  enum class Stage { None, Info, Comment, Dsp, Block, Stream };

  void InitEncoder();
  void SetUpEncoder(int channels, int rate);
  void AddComments();
  void WriteHeaders();
  void WritePage();
  // Fills the analysis buffer from bytes of input; the frames it holds.
  int FillAnalysis(const uint8_t* data, uint32_t bytes);
  const uint8_t* WholeFrames(const uint8_t* data, uint32_t& bytes);
  void DrainAnalysis();
  void ClearCodec();

  float compression_ = 0.2f;
  TVorbisTags comments_;
  TVorbisBitRate nominal_ = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate maximum_ = TVorbisBitRate::brAutoSelect;
  TVorbisBitRate minimum_ = TVorbisBitRate::brAutoSelect;
  int32_t serial_ = 0;

  Stage stage_ = Stage::None;
  ogg_stream_state stream_state_{};
  ogg_page page_{};
  ogg_packet packet_{};
  vorbis_info info_{};
  vorbis_comment comment_{};
  vorbis_dsp_state dsp_{};
  vorbis_block block_{};
  int channels_ = 0;
  int bits_ = 0;
  std::vector<uint8_t> partial_;  // the start of a frame not yet complete
  std::vector<uint8_t> staged_;
  bool wrote_end_ = false;  // the analysis was told the input ended
  std::atomic<bool> end_of_stream_{false};
  std::atomic<bool> input_ended_{false};
};

}  // namespace pmx
