#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/core/objects/component.h"
#include "audio/streaming/au_file_stream.h"
#include "audio/streaming/id3v1_tags.h"
#include "audio/streaming/id3v2_tags.h"

namespace pmx {

// An abstract PCM source for the pull model.
//
// Threads: the GUI thread sets an input up; the worker of the output that owns
// it fetches. DataLock serialises fetching, Init, Flush, Prefetch, seeking and a
// file input's GetLengthSeconds; Position, Size and Busy are atomics so that
// progress can be read from anywhere.
class TAuInput : public TComponent {
 public:
  using TComponent::TComponent;

  virtual int GetBitsPerSample() = 0;
  virtual int GetChannels() = 0;
  virtual int GetSampleRate() = 0;
  virtual int GetLengthSeconds() { return 0; }
  virtual int64_t GetLengthSamples() { return 0; }

  // Prepares for fetching; a failure leaves EndOfData set and is raised as EAuException.
  void Init();
  // Ends fetching.
  void Flush();
  // Buffer points into the input's own memory, valid until the next fetch; Bytes
  // comes back as the count available there, 0 at the end.
  virtual void FetchData(const uint8_t*& buffer, uint32_t& bytes);
  // Reads ahead up to bytes when nothing is read ahead yet; served by FetchData.
  virtual void Prefetch(uint32_t bytes);
  // Flush without raising; the input is no longer busy.
  virtual void Reset();
  // Called by an output around a pause.
  virtual void PauseHook() {}
  virtual void ResumeHook() {}

  int64_t Position() const { return position_.load(); }
  int64_t Size() const { return size_.load(); }
  bool Busy() const { return busy_.load(); }
  uint16_t BytesPerFrame() const { return bytes_per_frame_; }

 protected:
  virtual void DoInit() {}
  virtual void DoFlush() {}
  virtual void ReadData(const uint8_t*& buffer, uint32_t& bytes) = 0;
  // Serves from the read-ahead buffer; false when it is empty. Under DataLock.
  bool ServeReadAhead(const uint8_t*& buffer, uint32_t& bytes);
  void DropReadAhead();

  std::recursive_mutex DataLock;
  std::atomic<int64_t> position_{0};
  std::atomic<int64_t> size_{0};
  std::atomic<bool> busy_{false};
  uint16_t bytes_per_frame_ = 0;
  int32_t decode_index_ = 0;   // read position in a descendant's decode buffer, from 1
  int32_t decode_filled_ = 0;  // filled count of that buffer
  bool end_of_data_ = false;

 private:
  std::vector<uint8_t> read_ahead_;
  uint32_t ahead_filled_ = 0;
  uint32_t ahead_offset_ = 0;
};

// Fetches once and copies what came; the count.
uint32_t CopyFetch(TAuInput& input, uint8_t* destination, uint32_t bytes);
// Fetches until bytes are filled or a fetch brings nothing (then ended is set).
uint32_t ReadFull(TAuInput& input, uint8_t* destination, uint32_t bytes, bool& ended);

// An input over a stream, with a window of samples and looping.
class TAuStreamedInput : public TAuInput {
 public:
  using TAuInput::TAuInput;

  void FetchData(const uint8_t*& buffer, uint32_t& bytes) override;

  // Not owned.
  virtual void SetStream(TStream* stream);
  TStream* Stream() const { return stream_; }

  int64_t StartSample() const { return start_sample_; }
  void SetStartSample(int64_t v) { start_sample_ = v; }
  // -1: to the end.
  int64_t EndSample() const { return end_sample_; }
  void SetEndSample(int64_t v) { end_sample_ = v; }
  bool Loop() const { return loop_; }
  void SetLoop(bool v) { loop_ = v; }
  bool Seekable() const { return seekable_; }

 protected:
  // Moves to sample; may correct it to where it landed.
  virtual bool SeekToSample(int64_t& sample) = 0;
  // One read with the window's accounting. Under DataLock.
  void FetchWithinWindow(const uint8_t*& buffer, uint32_t& bytes);
  // Back to the window's start for the next pass of a loop. Under DataLock.
  void StartOver();

  TStream* stream_ = nullptr;
  bool stream_assigned_ = false;
  bool seekable_ = true;
  int64_t start_sample_ = 0;
  int64_t end_sample_ = -1;
  bool loop_ = false;
  int64_t total_samples_ = 0;
};

// Base of the file inputs. OpenSource must be idempotent: every getter calls it.
class TAuFileIn : public TAuStreamedInput {
 public:
  using TAuStreamedInput::TAuStreamedInput;

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;
  int GetLengthSeconds() override;
  int64_t GetLengthSamples() override;
  void Reset() override;

  const std::string& FileName() const { return file_name_; }
  void SetFileName(const std::string& name);
  void SetStream(TStream* stream) override;

  // Moves to a sample of the window (busy) or sets the window's start (idle).
  bool SeekSample(int64_t sample);
  // Moves by a percentage of the size from the current position, within the window.
  void MoveByPercent(int percent);
  // Idle: the next run begins at sample, as if moved there with SeekSample as it
  // begins (StartSample would narrow the run to a window instead); Position reads
  // as that sample until then. A new file or the end of a run drops it.
  void Cue(int64_t sample);
  bool Cued() const { return cued_.load() >= 0; }

 protected:
  virtual void OpenSource() = 0;
  virtual void CloseSource() = 0;
  // Opens the file for reading unless a stream is assigned; raises EAuException.
  void OpenOwnStream();
  // An assigned stream is rewound for its owner; one opened here is closed.
  void ReleaseStream();
  void DoInit() override;
  void DoFlush() override;

  std::recursive_mutex OpenLock;  // taken by the descendants' OpenSource and CloseSource
  std::string file_name_;
  std::unique_ptr<TAuFileStream> owned_stream_;
  int32_t open_count_ = 0;
  int32_t bits_per_sample_ = 0;
  int32_t sample_rate_ = 0;
  int32_t channels_ = 0;
  int32_t length_seconds_ = 0;

 private:
  void ApplyWindow();
  std::atomic<int64_t> cued_{-1};  // set on the GUI thread while idle, taken by the run's Init
};

// A file input with the tags a file may carry.
class TAuTaggedFileIn : public TAuFileIn {
 public:
  using TAuFileIn::TAuFileIn;

  TId3v1Tags& Id3v1Tags() { return id3v1_tags_; }
  TId3v2Tags& Id3v2Tags() { return id3v2_tags_; }
  TAPEv2Tags& APEv2Tags() { return apev2_tags_; }

 private:
  TId3v1Tags id3v1_tags_;
  TId3v2Tags id3v2_tags_;
  TAPEv2Tags apev2_tags_;
};

}  // namespace pmx
