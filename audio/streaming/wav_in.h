#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/streaming/au_input.h"
#include "audio/streaming/memory_stream.h"
#include "audio/streaming/wav_header.h"

namespace pmx {

// In place over bytes of 32-bit (64-bit) floats: each becomes a 32-bit integer,
// packed from the start. x >= 1 gives INT32_MAX; x <= -1 and NaN give INT32_MIN;
// else floor(x * 2147483647).
void SingleToInt32Clip(uint8_t* data, size_t bytes);
void DoubleToInt32Clip(uint8_t* data, size_t bytes);

// The encoder's source: a RIFF/WAVE file delivered as integer PCM (float samples
// as 32-bit integers).
//
// Threads: set up on the GUI thread; OpenSource/CloseSource under OpenLock, reads
// under the input's DataLock on the output's worker.
class TWaveIn : public TAuFileIn {
 public:
  static constexpr uint32_t kDecodeBytes = 16384;

  explicit TWaveIn(TComponent* owner = nullptr) : TAuFileIn(owner) {}
  ~TWaveIn() override;

  TWaveKind WaveKind() const { return header_.kind; }
  // Why the latest file was not taken; empty when it was.
  std::string HeaderError() const;
  // Where in the file the bytes it hands out start when they are the file's own
  // (integer PCM from a seekable stream); -1 when it converts them.
  int64_t StoredDataOffset() const;

 protected:
  void OpenSource() override;
  void CloseSource() override;
  void DoInit() override;
  void ReadData(const uint8_t*& buffer, uint32_t& bytes) override;
  bool SeekToSample(int64_t& sample) override;

 private:
  void TakeHeader();
  void Refuse(const std::string& reason);
  void TakeAdpcm();
  void TakeMpegLayer3();
  int FramesIn(size_t block_bytes) const;
  uint32_t DecodeBlock();
  // Reads up to count bytes of the data chunk.
  uint32_t ReadChunkData(uint8_t* into, uint32_t count);
  uint32_t Refill();

  std::unique_ptr<TStream> own_stream_;
  std::unique_ptr<TMemoryStream> converted_;  // decoded MPEG layer-3, read in the file's place
  TStream* file_stream_ = nullptr;             // the file's stream, set aside meanwhile
  TWaveHeader header_;
  std::string error_;
  bool float32_ = false;
  int64_t data_left_ = 0;  // bytes of the data chunk not yet read
  int64_t adpcm_frames_ = 0;       // what an ADPCM file holds
  int64_t adpcm_frames_left_ = 0;  // of which not yet decoded
  std::vector<uint8_t> block_;  // one ADPCM block as read
  alignas(int32_t) std::array<uint8_t, kDecodeBytes> decode_{};
};

}  // namespace pmx
