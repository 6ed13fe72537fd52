#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/core/dsp/acm_converter.h"
#include "audio/core/dsp/adpcm_converter.h"
#include "audio/core/dsp/fade_list.h"
#include "audio/core/files/custom_file.h"
#include "audio/core/files/file_registry.h"
#include "platform/exception.h"

namespace pmx {

class EMMAudioError : public Exception {
 public:
  using Exception::Exception;
};

struct TMMPanGains {
  int32_t Left = 0;
  int32_t Right = 0;
};

// The channel gains of a volume (16384 unity) panned by -32768 (left only) ..
// 32768 (right only).
TMMPanGains CalcPanGains(int32_t volume, int32_t panning);

// A chain source that plays audio files by name.
class TMMBaseAudioFile : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  virtual void SetFileName(const std::string& name) = 0;
  virtual std::string GetFileName() const = 0;
  // The open-dialog filter of the files it plays.
  virtual std::string GetFilter() const = 0;
};

// Plays any file that a registered file class reads: the file's component feeds an
// ADPCM converter, then a PCM converter, and this delivers their PCM to its Output
// with volume, panning and fades applied, a 1 ms ramp in at the start of every run
// and 4 bytes of silence once after the end. Loops when the pulling device asks.
// Positions and lengths are in ms, counters in bytes, all 64-bit.
//
// Threads: the file, links and lifecycle belong to the GUI thread; a new FileName
// is set while no device pulls. BufferLoad runs on the pulling device's thread.
// lock_ (recursive: a loop restart seeks from inside BufferLoad) guards every field
// below it and the inner chain's read position, so a seek or a volume change from
// the GUI thread waits for the buffer being filled. OnError runs on the GUI thread
// (through SynchronizeDSPCall), outside the lock.
class TMMCustomAudioFile : public TMMBaseAudioFile {
 public:
  static constexpr int32_t kUnity = 16384;
  static constexpr int32_t kPanScale = 32768;

  explicit TMMCustomAudioFile(TComponent* owner = nullptr);
  ~TMMCustomAudioFile() override;

  // Loads the file by name (any kind); the name already open does nothing, an empty
  // or missing name closes the file.
  void SetFileName(const std::string& name) override { LoadFile(name, TMMAudioFileType::ftNone); }
  std::string GetFileName() const override;
  std::string FileName() const { return GetFileName(); }
  std::string GetFilter() const override;
  // Tries the class of type first, when one is registered, then every class that can
  // load the file. EMMAudioError "This is not a valid Audiofile" when none does; a
  // class's own error when opening fails.
  void LoadFile(const std::string& name, TMMAudioFileType type);

  // The kind of the open file; ftNone without one. Setting it changes nothing.
  virtual TMMAudioFileType GetFileType() const;
  virtual void SetFileType(TMMAudioFileType) {}
  TMMAudioFileType FileType() const { return GetFileType(); }
  virtual bool GetEmpty() const;
  virtual int32_t GetBlockSize() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool value);
  int32_t MpegTrailingHeader() const;
  void SetMpegTrailingHeader(int32_t value);
  int32_t Volume() const;
  void SetVolume(int32_t value);
  int32_t Panning() const;
  void SetPanning(int32_t value);
  int64_t FileLength() const;
  int64_t PlayEnd() const;
  int64_t StartPosition() const;

  virtual void ResetPlayRange();
  virtual void SetTimePosition(int64_t ms);
  virtual int64_t GetTimePosition() const;
  // Fade in and out lengths; the fade-out ends at the end of the file.
  virtual void SetFades(int64_t fadeInMs, int64_t fadeOutMs, int64_t fadeOutPosition);
  virtual void UpdateFades();
  // Fades out from the current position over ms and ends the run there.
  virtual void FadeOut(int64_t ms);

  // Driving the inner chain without a device (only while nothing is linked to
  // Output): open, start, read buffer by buffer, stop, close.
  virtual void Open(int32_t bufferSize);
  virtual void Start();
  virtual void Stop();
  virtual void ResetChain();
  virtual void Close();
  // The bytes delivered into data.
  virtual int32_t ReadBuffer(char* data, int32_t length, bool& MoreBuffers);
  virtual void AbortRead();
  virtual void CloseFile();

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Stopped() override;
  void Reset() override;
  void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) override;

  TNotifyEvent OnFileLoading;
  TNotifyEvent OnFileLoaded;
  TNotifyEvent OnChange;
  TMMErrorEvent OnError;

 protected:
  virtual void DoFileLoading();
  virtual void DoFileLoaded();
  virtual void Change();
  virtual void DoError(bool& Handled);

 private:
  void TryLoadFile(const TMMFileClass& fileClass, const std::string& name);
  void WalkChain(const std::function<void(TMMDSPComponent&)>& visit);
  // With lock_ held.
  int64_t TimePosition() const;
  void BeginRun(int64_t position);
  // Moves the file and a started run to position.
  void SeekRun(int64_t position);
  void EndManualFadeOut();
  void Load(WAVEHDR* h, bool& MoreBuffers);
  void Pull(WAVEHDR* h, bool& MoreBuffers, uint32_t n);
  bool Loop(WAVEHDR* h, bool& MoreBuffers);
  uint8_t SilenceByte() const;

  // GUI thread.
  std::unique_ptr<TMMFadeList> fades_;
  std::unique_ptr<TMMADPCMConverter> adpcm_;
  std::unique_ptr<TMMPCMConverter> pcm_;
  std::unique_ptr<TMMCustomFile> inner_;
  bool enabled_ = true;
  TMMDecryptCallback decrypt_;
  uint8_t decrypt_mode_ = 0;

  mutable std::recursive_mutex lock_;
  int32_t volume_ = kUnity;
  int32_t panning_ = 0;
  int64_t file_length_ = 0;
  int64_t play_end_ = 0;
  int64_t start_position_ = 0;
  int64_t fade_in_ = 0;
  int64_t fade_out_ = 0;
  int64_t fade_out_start_ = INT32_MAX;
  int64_t saved_fade_out_start_ = 0;
  int64_t saved_fade_out_ = 0;
  int64_t bytes_delivered_ = 0;
  int64_t bytes_remaining_ = 0;
  bool opened_ = false;
  bool started_ = false;
  bool end_reached_ = false;
  bool tail_sent_ = false;
  bool manual_fade_out_ = false;
  bool early_fade_out_ = false;
};

// The published form.
class TMMAudioFile : public TMMCustomAudioFile {
 public:
  using TMMCustomAudioFile::TMMCustomAudioFile;
};

}  // namespace pmx
