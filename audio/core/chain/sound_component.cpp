#include "audio/core/chain/sound_component.h"

namespace pmx {
namespace {

bool IsDevice(const TMMDSPComponent* node) {
  return dynamic_cast<const TMMCustomSoundComponent*>(node) != nullptr;
}

}  // namespace

TMMDSPComponent* TMMCustomSoundComponent::SegmentStart() {
  TMMDSPComponent* start = this;
  for (TMMDSPComponent* node = Input(); node; node = node->Input()) {
    if (IsDevice(node)) return this;
    start = node;
  }
  return start;
}

void TMMCustomSoundComponent::WalkSegment(const Notify& notify) {
  for (TMMDSPComponent* node = SegmentStart(); node; node = node->Output()) {
    if (node == this) continue;
    notify(node);
    if (IsDevice(node)) break;
  }
}

void TMMCustomSoundComponent::WalkSegmentDeviceFirst(const Notify& notify) {
  for (TMMDSPComponent* node = Output(); node; node = node->Output()) {
    if (IsDevice(node)) {
      notify(node);
      break;
    }
  }
  for (TMMDSPComponent* node = SegmentStart(); node; node = node->Output()) {
    if (node == this) continue;
    if (IsDevice(node)) break;
    notify(node);
  }
}

void TMMCustomSoundComponent::Opened() {
  // The segment starts at this device itself only when a device lies above it.
  upstream_device_ = Input() != nullptr && SegmentStart() == this;
  const int32_t size = BufferSize();
  WalkSegment([size](TMMDSPComponent* node) {
    node->SetBufferSize(size);
    node->Opened();
  });
  TMMDSPComponent::Opened();
}

// Closing and stopping reach the device below first, so that it no longer asks
// this stretch for data while it is taken down.
void TMMCustomSoundComponent::Closed() {
  WalkSegmentDeviceFirst(&TMMDSPComponent::Closed);
  TMMDSPComponent::Closed();
}

void TMMCustomSoundComponent::Stopped() {
  WalkSegmentDeviceFirst(&TMMDSPComponent::Stopped);
  TMMDSPComponent::Stopped();
}

void TMMCustomSoundComponent::Started() {
  WalkSegment(&TMMDSPComponent::Started);
  TMMDSPComponent::Started();
}

void TMMCustomSoundComponent::Paused() {
  WalkSegment(&TMMDSPComponent::Paused);
  TMMDSPComponent::Paused();
}

void TMMCustomSoundComponent::Restarted() {
  WalkSegment(&TMMDSPComponent::Restarted);
  TMMDSPComponent::Restarted();
}

void TMMCustomSoundComponent::Reset() {
  WalkSegment(&TMMDSPComponent::Reset);
  TMMDSPComponent::Reset();
}

void TMMCustomSoundComponent::Looped() {
  WalkSegment(&TMMDSPComponent::Looped);
  TMMDSPComponent::Looped();
}

}  // namespace pmx
