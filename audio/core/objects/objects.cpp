#include "audio/core/objects/objects.h"

namespace pmx {

void TMMObject::BeginUpdate() {
  if (update_count_ == 0) Changing();
  ++update_count_;
}

void TMMObject::EndUpdate() {
  if (update_count_ == 0) return;
  if (--update_count_ == 0) Changed();
}

void TMMObject::Changing() {
  if (update_count_ == 0 && OnChanging) OnChanging(this);
}

void TMMObject::Changed() {
  if (update_count_ == 0 && OnChange) OnChange(this);
}

void TMMComponent::SetDesignMode(bool value) {
  SetDesigning(value);
  for (int i = 0; i < ComponentCount(); ++i) {
    if (auto* owned = dynamic_cast<TMMComponent*>(Components(i))) owned->SetDesignMode(value);
  }
}

}  // namespace pmx
