#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/mm_types.h"

namespace pmx {

// What a file's ID3v1 tag says, trimmed; Genre is the name of GenreNumber, or empty
// for a number the genre table does not hold.
struct TMMID3Tag {
  std::string Title;
  std::string Artist;
  std::string Album;
  std::string Year;
  std::string Comment;
  uint16_t Track = 0;
  uint16_t GenreNumber = 0;
  std::string Genre;
  int32_t Reserved = 0;
};

// What a file class tells about a file without opening it for playing.
struct TMMFileInfo {
  TMMAudioFileType FileType = TMMAudioFileType::ftNone;
  std::string FileName;
  int64_t Length = 0;  // ms
  int32_t SampleRate = 0;
  int32_t BitRate = 0;
  int32_t Channels = 0;
  int32_t Layer = 0;
  TMMID3Tag ID3;
};

// An error while pulling data: a handler that sets Handled lets playback go on.
using TMMErrorEvent = std::function<void(TObject* Sender, bool& Handled)>;

// A hook that deciphers protected MPEG data in place; this system sets none.
using TMMDecryptCallback = std::function<void(void* data, int32_t size)>;

// A component that reads one kind of audio file as the head of a playing chain,
// and what the audio-file player drives it through: the kind, length, position and
// name of the file. The kind-wide queries (CanLoad, GetFilter, ...) are static
// members of each concrete class, gathered by TMMFileClass.
//
// Threads: as TMMDSPComponent; Enabled is an atomic, read by the chain's threads.
class TMMCustomFile : public TMMDSPComponent {
 public:
  explicit TMMCustomFile(TComponent* owner = nullptr) : TMMDSPComponent(owner) {}

  virtual TMMAudioFileType FileType() const { return TMMAudioFileType::ftNone; }
  // Bytes of the smallest whole read unit.
  virtual int32_t GetBlockSize() const = 0;
  // Bytes of a header at the end of the data that is not audio.
  virtual void SetTrailingHeader(int32_t) {}
  virtual int32_t GetTrailingHeader() const { return 0; }
  // No file or no data.
  virtual bool GetEmpty() const = 0;
  // Length in ms.
  virtual int64_t GetTime() const = 0;
  virtual std::string GetFileName() const = 0;
  // An empty name closes.
  virtual void SetFileName(const std::string& name) = 0;
  // Position in the file's own unit, and in ms.
  virtual int64_t GetPosition() const = 0;
  virtual void SetPosition(int64_t position) = 0;
  virtual int64_t GetTimePosition() const = 0;
  virtual void SetTimePosition(int64_t ms) = 0;
  // The samples the next read delivers before the position: a seek into a
  // compressed block reads on from the block's start.
  virtual int64_t GetLeadSamples() const { return 0; }

  virtual bool GetEnabled() const { return enabled_.load(); }
  virtual void SetEnabled(bool value) { enabled_.store(value); }

  // From the component's own format, 0 without one.
  virtual int32_t GetSampleRate() const;
  virtual int32_t GetChannels() const;
  virtual int32_t GetBitRate() const { return 0; }
  // Stops a decoder's read that is under way.
  virtual void AbortRead() {}

  // Options and operations of MPEG decoders; other kinds have none of them.
  virtual void SetDecryptCallback(const TMMDecryptCallback&) {}
  virtual void SetDecryptMode(uint8_t) {}
  virtual void ScanFile(int32_t, int32_t, int32_t) {}
  virtual void ScanFileEx(int32_t, int32_t) {}
  virtual void EncryptFile(const std::string&, int32_t, int32_t, int32_t) {}
  virtual bool ReadID3Tag(TMMID3Tag&) { return false; }

  // Fires OnChange, then OnChanged.
  virtual void Changed();

  TNotifyEvent OnChange;
  TNotifyEvent OnChanged;

 private:
  std::atomic<bool> enabled_{true};
};

}  // namespace pmx
