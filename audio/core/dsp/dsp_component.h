#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/core/objects/objects.h"
#include "platform/wave_types.h"

namespace pmx {

using TMMBufferEvent = std::function<void(TObject* Sender, WAVEHDR* lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TObject* Sender, WAVEHDR* lpWaveHdr, bool& MoreBuffers)>;

// Hands a source's loop state from one buffer header to another, for nodes that
// pull through a header of their own.
inline void CopyLoopState(const WAVEHDR& from, WAVEHDR& to) {
  to.LoopFlag = from.LoopFlag;
  to.LoopCount = from.LoopCount;
  to.LoopsRemaining = from.LoopsRemaining;
  to.LoopRestart = from.LoopRestart;
}

// The upstream end of a node that pulls into a buffer of its own: the header it
// pulls through and what the source said last.
struct TMMPullState {
  WAVEHDR header{};
  bool more = false;       // the source has more
  bool exhausted = false;  // the source gave its last: no more pulls
};

// Copies held[read, end) into h after what h holds, at most want bytes; read
// moves on and want shrinks by what was copied.
void CopyHeld(const uint8_t* held, uint32_t end, uint32_t& read, WAVEHDR& h, uint32_t& want);

class TMMCustomDSPComponent : public TMMNonVisualComponent {
 public:
  using TMMNonVisualComponent::TMMNonVisualComponent;
};

// A node of the processing chain: at most one Input and one Output neighbour, an
// own copy of the wave format that flows downstream along the links, and the
// buffers that pass through: pushed downstream by BufferReady while recording,
// pulled upstream by BufferLoad while playing.
//
// Every link is held on both of its ends as non-owning pointers, and destroying a
// node cuts both of its links, so no neighbour is ever left pointing at a freed
// node. A link that would close a loop is refused.
//
// Threads: links, formats, buffer sizes and lifecycle notifications are changed on
// the GUI thread while the chain is stopped. BufferReady runs on the thread that
// delivers buffers (a device or queue thread), BufferLoad on the playing device's
// thread; both only read the links. The state flags are atomics, read anywhere.
class TMMDSPComponent : public TMMCustomDSPComponent {
 public:
  static constexpr int32_t kDefaultBufferSize = 2048;
  static constexpr std::size_t kMaxLinkName = 20;

  explicit TMMDSPComponent(TComponent* owner = nullptr);
  ~TMMDSPComponent() override;

  TMMDSPComponent* Input() const { return input_; }
  // Links a as the Input (none unlinks); a refused link changes nothing.
  virtual void SetInput(TMMDSPComponent* a);
  TMMDSPComponent* Output() const { return output_; }
  virtual void SetOutput(TMMDSPComponent* a);

  // The own copy of the format, or none.
  PWaveFormatEx PWaveFormat() const { return format_.get(); }
  // Replaces the own copy and passes it on to the Output.
  virtual void SetPWaveFormat(PWaveFormatEx f);
  // The format arriving from the Input (none when that link is cut).
  virtual void InputFormatChanged(PWaveFormatEx f);
  // Passes the formats along again after a link changed.
  virtual void UpdateFormat();

  // The effective size while opened, the property value otherwise.
  virtual int32_t BufferSize() const;
  virtual void SetBufferSize(int32_t n);

  virtual void Opened();
  virtual void Closed();
  virtual void Started();
  virtual void Paused();
  virtual void Restarted();
  virtual void Stopped();
  virtual void Reset() {}
  virtual void Looped() {}

  bool IsOpened() const { return opened_.load(); }
  bool IsStarted() const { return started_.load(); }
  bool IsPaused() const { return paused_.load(); }

  // Hands one filled buffer downstream; nodes may change it in place.
  virtual void BufferReady(WAVEHDR* lpWaveHdr);
  // Asks upstream to fill one buffer; MoreBuffers cleared means the source is done.
  virtual void BufferLoad(WAVEHDR* lpWaveHdr, bool& MoreBuffers);

  // Whether c may become the Input (Output): never this node, never a node that
  // lies downstream (upstream) already.
  virtual bool CanConnectInput(TMMDSPComponent* c);
  virtual bool CanConnectOutput(TMMDSPComponent* c);
  // c is about to be linked anew: the node whose link named name pointed back at c
  // from the given side drops that stale end.
  virtual void LinkChanged(TMMDSPComponent* c, bool isInputSide, const std::string& name);

  TMMBufferEvent OnBufferReady;
  TMMBufferLoadEvent OnBufferLoad;

 protected:
  void Loaded() override;
  // Which of the links a class offers to be set from outside; only such nodes can
  // be linked to (a class without an Input may still accept one, see below).
  void PublishLinks(bool input, bool output) {
    publishes_input_ = input;
    publishes_output_ = output;
  }
  // Lets a class without a published Input be linked as an Output target.
  void SetAcceptsInput(bool accepts) { accepts_input_ = accepts; }
  // Store one end of a link, nothing else; the caller keeps both ends in step.
  virtual void SetInputLink(TMMDSPComponent* c, const std::string& name);
  virtual void SetOutputLink(TMMDSPComponent* c, const std::string& name);
  // True unless the node is being loaded or destroyed.
  bool Propagating() const { return !Loading() && !Destroying(); }
  // Pulls at most size bytes into data from upstream through pull's header,
  // handing caller's loop state through; 0 once the source is exhausted.
  uint32_t PullUpstream(WAVEHDR& caller, void* data, uint32_t size, TMMPullState& pull);

 private:
  TMMDSPComponent* LinkNamed(const std::string& name) const;
  static void AnnounceLinkChange(TMMDSPComponent* c, bool isInputSide, const std::string& name);

  TMMDSPComponent* input_ = nullptr;
  TMMDSPComponent* output_ = nullptr;
  std::unique_ptr<WaveFormatEx> format_;
  int32_t buffer_size_ = kDefaultBufferSize;
  int32_t effective_buffer_size_ = kDefaultBufferSize;
  std::atomic<bool> opened_{false};
  std::atomic<bool> started_{false};
  std::atomic<bool> paused_{false};
  bool accepts_input_ = false;
  bool publishes_input_ = false;
  bool publishes_output_ = false;
  std::string input_link_;
  std::string output_link_;
};

}  // namespace pmx
