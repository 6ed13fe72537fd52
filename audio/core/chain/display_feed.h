#pragma once

#include "platform/wave_types.h"

namespace pmx {

// What the connector asks of a display it feeds. The displays are not chain nodes;
// they receive the format when the chain starts, blocks of BytesPerRefresh bytes
// while it runs (pointers into the connector's buffer, valid only for the call)
// and a reset when it stops. A display that goes away must be a TComponent, so that
// the connector hears of its removal.
class TMMDisplayFeed {
 public:
  virtual ~TMMDisplayFeed() = default;

  // Raises the display's own error for a format it cannot show.
  virtual void SetPCMWaveFormat(PWaveFormatEx format) = 0;
  virtual void RefreshPCMData(const void* data) = 0;
  virtual void ResetData() = 0;
  virtual int BytesPerRefresh() const = 0;
};

// An oscilloscope also tells how far one accelerated scroll step reaches.
class TMMOscopeFeed : public TMMDisplayFeed {
 public:
  virtual bool Accelerate() const = 0;
  virtual bool Scroll() const = 0;
  virtual int FFTLength() const = 0;
  // Ordinals: 0 for 8 bits, 1 for 16; 0 mono, 1 stereo.
  virtual int BitLength() const = 0;
  virtual int Mode() const = 0;
};

// A spectrogram may step through the data at a quarter of its block.
class TMMSpectrogramFeed : public TMMDisplayFeed {
 public:
  virtual bool Accelerate() const = 0;
};

}  // namespace pmx
