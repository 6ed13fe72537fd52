#include "audio/core/fade_list.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "audio/core/envelope.h"
#include "audio/core/pcm_support.h"

namespace pmx {

namespace {

// One channel's gain moving linearly from one value to another over a whole
// segment of frames; the integer step and the carried remainder make it reach the
// target exactly at the segment's end without a division per sample.
struct GainRamp {
  int32_t from;
  int32_t to;
  int64_t span;  // frames of the whole segment, at least 1

  int32_t At(int64_t frame) const {
    return static_cast<int32_t>(from + (int64_t{to} - from) * frame / span);
  }
};

template <bool k16>
void RampChannel(uint8_t* p, int64_t frames, int stride, GainRamp ramp, bool& clipped) {
  if (ramp.from == kPCMUnityGain && ramp.to == kPCMUnityGain) return;
  if (ramp.from == 0 && ramp.to == 0) {
    for (int64_t f = 0; f < frames; ++f, p += stride) {
      if constexpr (k16) {
        StoreLE16(p, 0);
      } else {
        *p = 128;
      }
    }
    return;
  }
  const int64_t delta = int64_t{ramp.to} - ramp.from;
  // 64-bit, so that gains far apart cannot overflow; the gain itself always lies
  // between the two ends.
  const int64_t step = delta / ramp.span;
  const int64_t remainder = std::abs(delta % ramp.span);
  const int64_t carry = delta < 0 ? -1 : 1;
  int64_t gain = ramp.from;
  int64_t error = 0;
  for (int64_t f = 0; f < frames; ++f, p += stride) {
    if constexpr (k16) {
      StoreLE16(p, PCMScaleSample16(LoadLES16(p), static_cast<int32_t>(gain), clipped));
    } else {
      *p = PCMScaleSample8(*p, static_cast<int32_t>(gain), clipped);
    }
    gain += step;
    error += remainder;
    if (error >= ramp.span) error -= ramp.span, gain += carry;
  }
}

struct Layout {
  int sample_bytes;
  int channels;
  int FrameBytes() const { return sample_bytes * channels; }
};

// Ramps the first whole frames of bytes along a segment of span frames towards
// target; returns the state reached after them.
TMMFadeState RampSegment(std::span<uint8_t> bytes, int64_t span, Layout layout, TMMFadeState state,
                         const TMMFadePoint& target, bool& clipped) {
  const int frame = layout.FrameBytes();
  const int64_t frames = static_cast<int64_t>(bytes.size()) / frame;
  const GainRamp left{state.LeftGain, target.LeftGain, span};
  const GainRamp right{state.RightGain, target.RightGain, span};
  const auto ramp = layout.sample_bytes == 2 ? RampChannel<true> : RampChannel<false>;
  ramp(bytes.data(), frames, frame, left, clipped);
  if (layout.channels == 2) ramp(bytes.data() + layout.sample_bytes, frames, frame, right, clipped);
  state.Position += static_cast<int64_t>(bytes.size());
  state.LeftGain = left.At(frames);
  state.RightGain = right.At(frames);
  return state;
}

}  // namespace

void TMMFadeList::Sort() {
  std::vector<TMMFadePoint>& points = Items();
  const int count = Count();
  int gap = 1;
  while (count / 9 >= gap) gap = 3 * gap + 1;
  for (; gap > 0; gap /= 3) {
    for (int i = gap; i < count; ++i) {
      const TMMFadePoint moving = points[i];
      int j = i;
      for (; j >= gap && points[j - gap].Position > moving.Position; j -= gap) {
        points[j] = points[j - gap];
      }
      points[j] = moving;
    }
  }
}

int32_t TMMFadeList::VolumeAt(int64_t position) const {
  int b = IndexAfter(position);
  if (b <= 0) return 0;
  b = std::min(b, Count() - 1);
  if (b <= 0) return 0;
  const TMMFadePoint& p0 = GetItem(b - 1);
  const TMMFadePoint& p1 = GetItem(b);
  if (p0.Position >= p1.Position) return 0;
  return InterpolateLinear(p0.Position, p0.Volume, p1.Position, p1.Volume, position);
}

void TMMFadeList::Assign(const TMMFadeList* source) {
  if (source == this) return;
  Clear();
  if (source == nullptr) return;
  SetCapacity(source->Count());
  for (int i = 0; i < source->Count(); ++i) Add(source->GetItem(i));
}

void TMMFadeList::AssignFromEnvelope(const TMMEnvelope& envelope) {
  Clear();
  for (int i = 0; i < envelope.Count(); ++i) {
    const TMMEnvelopePoint& point = envelope.Points(i);
    TMMFadePoint fade;
    fade.Position = point.Position();
    fade.Volume = point.Value();
    Add(fade);
  }
}

void TMMFadeList::AssignToEnvelope(TMMEnvelope& envelope) const {
  ResetEnvelope(envelope);
  for (int i = 0; i < Count(); ++i) {
    const TMMFadePoint& fade = GetItem(i);
    // Envelope positions are 32-bit; a point beyond that range lands on its edge.
    const auto position = static_cast<int32_t>(std::clamp<int64_t>(
        fade.Position, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
    InsertPoint(envelope, TMMEnvelopePoint(position, fade.Volume, 0), false);
  }
}

bool ApplyFades(const WaveFormatEx& format, std::span<uint8_t> data, TMMFadeList& list) {
  const int code = PCMFormatCode(format);
  if (code < 0) return false;
  const Layout layout{code & 4 ? 2 : 1, code & 2 ? 2 : 1};
  bool clipped = false;
  TMMFadeState state = list.PlayState();
  int k = std::max(list.IndexAfter(state.Position) - 1, 0);
  while (!data.empty() && k < list.Count()) {
    const TMMFadePoint& point = list.GetItem(k);
    const int64_t span_bytes = point.Position - state.Position;
    if (span_bytes > 0) {
      // A segment covers whole frames, so that a point placed between two frames
      // cannot shift the framing of the rest of the buffer.
      const int64_t span = (span_bytes + layout.FrameBytes() - 1) / layout.FrameBytes();
      const int64_t c =
          std::min<int64_t>(static_cast<int64_t>(data.size()), span * layout.FrameBytes());
      state = RampSegment(data.first(c), span, layout, state, point, clipped);
      data = data.subspan(c);
    }
    // Reaching or passing the point moves on, so a position already beyond it
    // cannot hold the loop.
    if (state.Position >= point.Position) ++k;
  }
  state.Index = k;
  list.SetPlayState(state);
  return clipped;
}

}  // namespace pmx
