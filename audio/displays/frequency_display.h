#pragma once

#include "audio/core/objects/mm_types.h"
#include "audio/displays/spectrum_math.h"

namespace pmx {

// A display over Base (a graphic control) that transforms the PCM it is fed: the
// transform's input, its length and window, and the layout of the stream, whose
// change redraws the display.
template <class Base>
class TMMFrequencyDisplay : public Base {
 public:
  using Base::Base;

  int FFTLength() const { return input_.Length(); }
  TMMFFTWindow Window() const { return input_.Transform().Window(); }
  int SampleRate() const { return input_.SampleRate(); }
  TMMBits BitLength() const { return input_.Layout().bits; }
  void SetBitLength(TMMBits value) {
    input_.SetBits(value);
    this->Invalidate();
  }
  // A four-channel stream makes this 3, past the named modes.
  TMMMode Mode() const { return static_cast<TMMMode>(input_.Layout().mode); }
  void SetMode(TMMMode value) {
    input_.SetMode(static_cast<int>(value));
    this->Invalidate();
  }
  TMMChannel Channel() const { return input_.Layout().channel; }
  void SetChannel(TMMChannel value) {
    input_.SetChannel(value);
    this->Invalidate();
  }

 protected:
  TMMFrequencyInput input_;
};

}  // namespace pmx
