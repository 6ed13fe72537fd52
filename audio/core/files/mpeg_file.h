#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/core/files/custom_file.h"
#include "audio/core/objects/objects.h"
#include "platform/exception.h"
#include "platform/media/mpeg_decoder.h"
#include "platform/wave_types.h"

namespace pmx {

class EMMMpegError : public Exception {
 public:
  using Exception::Exception;
};

// True when the MPEG decoder can be used. The first failure tells the user once
// per process (through the application's message hook) why not.
bool LoadMPEGDecoder();

// The ID3v1 name of a genre number; empty for numbers past the table's 126.
std::string MpegGenreName(int number);

// A RIFF/WAVE file that carries MPEG audio (format tag 0x50 or 0x55).
bool IsMpegInWave(const std::string& name);

// One MPEG decoder for one file: its stream properties, the 16-bit PCM format it
// decodes to, reads and seeks exact to the sample. Every decoder error raises
// EMMMpegError with the decoder's text.
//
// Threads: as its decoder (MpegDecoder serialises its calls); the open flag is an
// atomic, the properties belong to the GUI thread.
class TMMMpeg : public TMMObject {
 public:
  // Raises EMMMpegError when the decoder library cannot be used.
  TMMMpeg();
  ~TMMMpeg() override;

  std::string FileName() const { return decoder_.GetFileName(); }
  void SetFileName(const std::string& name);
  // Reads the stream properties again and announces them.
  void Changed() override;
  // None without a file.
  PWaveFormatEx GetPCMFormat() const { return pcm_.get(); }

  TMpegVersion Version() const { return info_.Version; }
  int32_t Layer() const { return info_.Layer; }
  TSampleMode Mode() const { return info_.SampleMode; }
  int32_t BitRate() const { return info_.BitRate; }
  int32_t SampleRate() const { return info_.SampleRate; }
  int32_t Frames() const { return info_.Frames; }
  int32_t Time() const { return info_.PlayTime; }
  const TMpegFileInfo& Info() const { return info_; }

  int32_t TrailingHeader() const { return trailing_; }
  void SetTrailingHeader(int32_t bytes);
  bool ExactPosition() const { return exact_; }
  void SetExactPosition(bool exact);
  TMpegChannelMode ChannelMode() const { return decoder_.GetChannelMode(); }
  // Raises "Change to property while device was open" while the file is open.
  void SetChannelMode(TMpegChannelMode mode);

  bool IsOpen() const { return open_.load(); }
  void OpenFile();
  void CloseFile();
  void ResetFile();
  // Bytes of PCM read; 0 when not open.
  int64_t ReadData(void* buffer, int64_t count);
  void AbortRead();
  bool GetDone() const { return decoder_.GetDone(); }
  bool GetEmpty() const { return decoder_.GetEmpty(); }
  // PCM bytes of one frame, whole sample frames of 4 bytes; 0 without a file.
  int32_t GetBlockSize() const;

  // Positions in frames, in samples and in ms, exact to the sample: a time lands on
  // the sample nearest to it.
  void SetPosition(int64_t frame);
  int64_t GetPosition() const { return decoder_.GetPosition(); }
  void SetSamplePosition(int64_t sample);
  int64_t GetSamplePosition() const { return decoder_.GetSamplePosition(); }
  void SetTimePosition(int64_t ms);
  int64_t GetTimePosition() const;

  void ScanFile(int32_t a, int32_t b, int32_t c);
  void ScanFileEx(int32_t a, int32_t b);
  // Raises: protected files are not supported.
  void EncryptFile(const std::string& name, int32_t a, int32_t b, int32_t c);
  bool ReadID3Tag(TMMID3Tag& tag) const;

  // Takes over another decoder's file and settings (none: reads its own again).
  void Assign(const TMMMpeg* source);

 private:
  void Check(int error, const std::string& prefix = "") const;
  void UpdatePCMFormat();
  int64_t FrameOf(int64_t sample) const;

  MpegDecoder decoder_;
  TMpegFileInfo info_;
  std::unique_ptr<WaveFormatEx> pcm_;
  int32_t trailing_ = 0;
  bool exact_ = false;
  std::atomic<bool> open_{false};
};

// The file component of MPEG audio (".mp2", ".mp3", ".atx" and WAVE files that
// carry MPEG): a chain source delivering the decoded 16-bit PCM.
//
// Threads: properties and lifecycle on the GUI thread, BufferLoad on the pulling
// device's thread; the started flag is an atomic, the decoder serialises itself.
// OnError runs on the GUI thread (through SynchronizeDSPCall).
class TMMMPEGFile : public TMMCustomFile {
 public:
  explicit TMMMPEGFile(TComponent* owner = nullptr);
  ~TMMMPEGFile() override;

  TMMMpeg& Mpeg() const { return *mpeg_; }

  static TMMAudioFileType ClassFileType() { return TMMAudioFileType::ftMpeg; }
  TMMAudioFileType FileType() const override { return ClassFileType(); }
  static bool CanLoad(const std::string& name, const TMMDecryptCallback& decrypt = {},
                      uint8_t mode = 0);
  // Kind, length, stream properties and ID3 tag; false for a WAVE file of any other
  // format or a file that holds no MPEG audio. The stream is measured exactly when
  // its first frame tells no bit rate and no "<name>.scn" file says not to.
  static bool GetFileInfo(const std::string& name, TMMFileInfo& info);
  static std::string GetFilter();
  static std::string GetExtensions() { return "*.mp2;*.mp3;*.atx"; }

  int32_t GetBlockSize() const override { return mpeg_->GetBlockSize(); }
  void SetTrailingHeader(int32_t bytes) override { mpeg_->SetTrailingHeader(bytes); }
  int32_t GetTrailingHeader() const override { return mpeg_->TrailingHeader(); }
  bool GetEmpty() const override { return mpeg_->GetEmpty(); }
  int64_t GetTime() const override { return mpeg_->Time(); }
  std::string GetFileName() const override { return mpeg_->FileName(); }
  void SetFileName(const std::string& name) override { mpeg_->SetFileName(name); }
  int64_t GetPosition() const override { return mpeg_->GetPosition(); }
  void SetPosition(int64_t frame) override { mpeg_->SetPosition(frame); }
  int64_t GetTimePosition() const override { return mpeg_->GetTimePosition(); }
  void SetTimePosition(int64_t ms) override { mpeg_->SetTimePosition(ms); }
  int32_t GetSampleRate() const override { return mpeg_->SampleRate(); }
  int32_t GetBitRate() const override { return mpeg_->BitRate(); }
  void AbortRead() override;
  void SetDecryptCallback(const TMMDecryptCallback& callback) override;
  void SetDecryptMode(uint8_t) override {}
  void ScanFile(int32_t a, int32_t b, int32_t c) override { mpeg_->ScanFile(a, b, c); }
  void ScanFileEx(int32_t a, int32_t b) override { mpeg_->ScanFileEx(a, b); }
  void EncryptFile(const std::string& name, int32_t a, int32_t b, int32_t c) override {
    mpeg_->EncryptFile(name, a, b, c);
  }
  bool ReadID3Tag(TMMID3Tag& tag) override { return mpeg_->ReadID3Tag(tag); }
  void Assign(const TMMMPEGFile* source) { mpeg_->Assign(source ? &source->Mpeg() : nullptr); }

  void Opened() override;
  void Started() override;
  void Stopped() override;
  void Closed() override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

  TMMErrorEvent OnError;

 private:
  void Load(WAVEHDR* h, bool& MoreBuffers);

  std::unique_ptr<TMMMpeg> mpeg_;
  int64_t saved_sample_ = 0;  // GUI thread
  std::atomic<bool> started_{false};
};

}  // namespace pmx
