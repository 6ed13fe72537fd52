#pragma once

#include <cstdint>
#include <string>

#include "audio/core/dsp_component.h"
#include "audio/core/mm_types.h"

namespace pmx {

// The file interface the audio-file player drives a file component through: what
// kind of file it reads, its length and position, its name.
//
// Threads: as TMMDSPComponent; Enabled is an atomic, read by the chain's threads.
class TMMCustomFile : public TMMDSPComponent {
 public:
  explicit TMMCustomFile(TComponent* owner = nullptr) : TMMDSPComponent(owner) {}

  virtual TMMAudioFileType FileType() const { return TMMAudioFileType::ftNone; }
  // Bytes of the smallest whole read unit.
  virtual int32_t GetBlockSize() const = 0;
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

  virtual bool GetEnabled() const { return enabled_.load(); }
  virtual void SetEnabled(bool value) { enabled_.store(value); }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanged;

 private:
  std::atomic<bool> enabled_{true};
};

}  // namespace pmx
