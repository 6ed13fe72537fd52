#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/core/chain/device_id.h"
#include "audio/core/dsp/dsp_component.h"
#include "audio/core/objects/cb_mode.h"

namespace pmx {

// A device of the chain (wave-in, wave-out). Its segment is the run of plain
// nodes around it, bounded by other devices; each lifecycle notification the
// device receives is passed over that segment and to the next device downstream,
// so opening a capture device opens everything it feeds with its buffer size.
//
// Threads: as TMMDSPComponent; the walk runs on the thread that notifies the
// device, with the chain's links unchanged meanwhile.
class TMMCustomSoundComponent : public TMMDSPComponent {
 public:
  using TMMDSPComponent::TMMDSPComponent;

  void Opened() override;
  void Closed() override;
  void Started() override;
  void Paused() override;
  void Restarted() override;
  void Stopped() override;
  void Reset() override;
  void Looped() override;

  // True when another device lies upstream; found by the last Opened.
  bool UpstreamDevice() const { return upstream_device_; }

  virtual int32_t NumBuffers() const = 0;
  virtual void SetNumBuffers(int32_t value) = 0;
  virtual TMMDeviceId DeviceID() const = 0;
  virtual void SetDeviceID(TMMDeviceId value) = 0;
  virtual std::string ProductName() const = 0;
  virtual void SetProductName(const std::string& value) = 0;
  virtual TMMCBMode CallBackMode() const = 0;
  virtual void SetCallBackMode(TMMCBMode value) = 0;

 private:
  using Notify = std::function<void(TMMDSPComponent*)>;

  // The head of the segment: this device when another one lies upstream, else the
  // head of the chain.
  TMMDSPComponent* SegmentStart();
  // From the segment's start down: every plain node and the next device below.
  void WalkSegment(const Notify& notify);
  // The next device below first, then the plain nodes of the segment.
  void WalkSegmentDeviceFirst(const Notify& notify);

  bool upstream_device_ = false;
};

// The playing device's interface.
class TMMCustomWaveOutComponent : public TMMCustomSoundComponent {
 public:
  using TMMCustomSoundComponent::TMMCustomSoundComponent;

  virtual int64_t GetPosition() = 0;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual void ResetDevice() = 0;
  virtual void Start() = 0;
  virtual void Pause() = 0;
  virtual void Restart() = 0;
  virtual void Stop() = 0;
};

}  // namespace pmx
