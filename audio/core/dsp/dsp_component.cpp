#include "audio/core/dsp/dsp_component.h"

#include <algorithm>
#include <cstring>

#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

const std::string kInput = "Input";
const std::string kOutput = "Output";

bool SameFormat(const WaveFormatEx* a, const WaveFormatEx* b) {
  if (!a || !b) return a == b;
  return *a == *b;
}

}  // namespace

TMMDSPComponent::TMMDSPComponent(TComponent* owner) : TMMCustomDSPComponent(owner) {}

TMMDSPComponent::~TMMDSPComponent() {
  MarkDestroying();
  SetInput(nullptr);
  SetOutput(nullptr);
}

TMMDSPComponent* TMMDSPComponent::LinkNamed(const std::string& name) const {
  if (name == kOutput) return output_;
  if (name == kInput) return input_;
  return nullptr;
}

// Only the node that c's link named name points at can hold the other end of that
// link, so it is the one node that may have a stale end to drop.
void TMMDSPComponent::AnnounceLinkChange(TMMDSPComponent* c, bool isInputSide,
                                         const std::string& name) {
  if (TMMDSPComponent* partner = c->LinkNamed(name)) partner->LinkChanged(c, isInputSide, name);
}

void TMMDSPComponent::LinkChanged(TMMDSPComponent* c, bool isInputSide, const std::string& name) {
  if (c->LinkNamed(name) != this) return;
  if (isInputSide && c == input_ && input_link_ == name) SetInputLink(nullptr, "");
  if (!isInputSide && c == output_ && output_link_ == name) SetOutputLink(nullptr, "");
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent* c, const std::string& name) {
  input_ = c;
  input_link_ = name.substr(0, kMaxLinkName);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent* c, const std::string& name) {
  output_ = c;
  output_link_ = name.substr(0, kMaxLinkName);
}

bool TMMDSPComponent::CanConnectInput(TMMDSPComponent* c) {
  if (!c || c == this || !c->publishes_output_) return false;
  return !output_ || output_->CanConnectInput(c);
}

bool TMMDSPComponent::CanConnectOutput(TMMDSPComponent* c) {
  if (!c || c == this || !(c->publishes_input_ || c->accepts_input_)) return false;
  return !input_ || input_->CanConnectOutput(c);
}

void TMMDSPComponent::SetInput(TMMDSPComponent* a) {
  if (a == input_ || (a && !CanConnectInput(a))) return;
  Stopped();
  if (input_) {
    AnnounceLinkChange(this, false, kInput);
    SetInputLink(nullptr, "");
    InputFormatChanged(nullptr);
  }
  if (!a) return;
  AnnounceLinkChange(a, true, kOutput);
  SetInputLink(a, kOutput);
  a->SetOutputLink(this, kInput);
  UpdateFormat();
}

void TMMDSPComponent::SetOutput(TMMDSPComponent* a) {
  if (a == output_ || (a && !CanConnectOutput(a))) return;
  Stopped();
  if (TMMDSPComponent* old = output_) {
    AnnounceLinkChange(this, true, kOutput);
    SetOutputLink(nullptr, "");
    old->InputFormatChanged(nullptr);
  }
  if (!a) return;
  AnnounceLinkChange(a, false, kInput);
  SetOutputLink(a, kInput);
  a->SetInputLink(this, kOutput);
  UpdateFormat();
}

void TMMDSPComponent::SetPWaveFormat(PWaveFormatEx f) {
  // Copied first, so that a malformed record leaves the node as it was.
  std::unique_ptr<WaveFormatEx> copy = wfCopyFormat(f);
  if (!SameFormat(copy.get(), format_.get())) {
    if (IsStarted()) Stopped();
    format_ = std::move(copy);
  }
  if (Propagating() && output_) output_->InputFormatChanged(format_.get());
}

void TMMDSPComponent::InputFormatChanged(PWaveFormatEx f) { SetPWaveFormat(f); }

void TMMDSPComponent::UpdateFormat() {
  if (!Propagating()) return;
  if (input_) {
    InputFormatChanged(input_->PWaveFormat());
  } else if (output_) {
    output_->InputFormatChanged(format_.get());
  }
}

void TMMDSPComponent::Loaded() { SetPWaveFormat(PWaveFormat()); }

int32_t TMMDSPComponent::BufferSize() const {
  return IsOpened() ? effective_buffer_size_ : buffer_size_;
}

void TMMDSPComponent::SetBufferSize(int32_t n) {
  if (n == buffer_size_) return;
  if (IsStarted()) Stopped();
  buffer_size_ = n;
}

void TMMDSPComponent::Opened() {
  if (IsOpened()) return;
  int32_t effective = buffer_size_;
  if (format_) {
    const int32_t block = format_->nBlockAlign();
    if (block == 0) throw EMMWaveFormatError();
    effective = std::max(effective / block * block, block);
  }
  effective_buffer_size_ = effective;
  opened_.store(true);
  started_.store(false);
  paused_.store(false);
}

void TMMDSPComponent::Closed() { opened_.store(false); }

void TMMDSPComponent::Started() {
  if (IsOpened()) started_.store(true);
}

void TMMDSPComponent::Paused() { paused_.store(true); }

void TMMDSPComponent::Restarted() { paused_.store(false); }

void TMMDSPComponent::Stopped() {
  if (!IsStarted()) return;
  started_.store(false);
  paused_.store(false);
}

void TMMDSPComponent::BufferReady(WAVEHDR* lpWaveHdr) {
  if (OnBufferReady) OnBufferReady(this, lpWaveHdr);
  if (output_) output_->BufferReady(lpWaveHdr);
}

uint32_t TMMDSPComponent::PullUpstream(WAVEHDR& caller, void* data, uint32_t size, TMMPullState& pull) {
  if (pull.exhausted) return 0;
  pull.header = {};
  pull.header.lpData = static_cast<char*>(data);
  pull.header.dwBufferLength = size;
  CopyLoopState(caller, pull.header);
  pull.more = false;
  TMMDSPComponent::BufferLoad(&pull.header, pull.more);
  CopyLoopState(pull.header, caller);
  const uint32_t got = std::min(pull.header.dwBytesRecorded, size);
  if (!pull.more || got == 0) pull.exhausted = true;
  return got;
}

void CopyHeld(const uint8_t* held, uint32_t end, uint32_t& read, WAVEHDR& h, uint32_t& want) {
  const uint32_t n = std::min(end - read, want);
  if (n == 0) return;
  std::memcpy(h.lpData + h.dwBytesRecorded, held + read, n);
  read += n;
  h.dwBytesRecorded += n;
  want -= n;
}

void TMMDSPComponent::BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers) {
  if (OnBufferLoad) OnBufferLoad(this, lpWaveHdr, MoreBuffers);
  if (input_) input_->BufferLoad(lpWaveHdr, MoreBuffers);
}

}  // namespace pmx
