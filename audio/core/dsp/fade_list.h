#pragma once

#include <cstdint>
#include <span>

#include "audio/core/objects/record_list.h"
#include "platform/wave_types.h"

namespace pmx {

class TMMEnvelope;

// A gain point over byte positions; 16384 is unity for the volume and the gains.
struct TMMFadePoint {
  int64_t Position = 0;
  int32_t Volume = 0;
  int32_t LeftGain = 0;
  int32_t RightGain = 0;
};

// Where the application of a fade list stands: the point it heads for, the byte
// position reached and the gains at that position.
struct TMMFadeState {
  int Index = 0;
  int64_t Position = 0;
  int32_t LeftGain = 0;
  int32_t RightGain = 0;
};

// A list of fade points sorted by position, and the state of its application to a
// stream of PCM buffers. No lock of its own: the player that owns it rebuilds and
// applies it under its own lock.
class TMMFadeList : public TMMRecordList<TMMFadePoint, &TMMFadePoint::Position, false> {
 public:
  // Shell sort by position; equal positions keep no particular order.
  void Sort();
  // The linear interpolation between the points around position (64-bit product,
  // truncating); 0 before the first point, with fewer than two points, or when the
  // two points share a position.
  int32_t VolumeAt(int64_t position) const;

  // Copies the points of source (Clear for none); assigning itself does nothing.
  // The play state is not copied.
  void Assign(const TMMFadeList* source);
  // Each envelope point becomes a fade point with its value as the volume.
  virtual void AssignFromEnvelope(const TMMEnvelope& envelope);
  // Resets the envelope and inserts each point (volume as value, no interpolation).
  virtual void AssignToEnvelope(TMMEnvelope& envelope) const;

  // Set by the owner whenever it rebuilds the list; advanced by ApplyFades. Clear
  // leaves it alone.
  const TMMFadeState& PlayState() const { return state_; }
  void SetPlayState(const TMMFadeState& state) { state_ = state; }

 private:
  TMMFadeState state_;
};

// Applies the list's gain ramps to a PCM buffer (8 or 16 bits, mono or stereo) in
// place, continuing from the list's play state and advancing it. True when a
// sample had to be limited. Other formats are left untouched and give False.
bool ApplyFades(const WaveFormatEx& format, std::span<uint8_t> data, TMMFadeList& list);

}  // namespace pmx
