#include "audio/core/objects.h"

namespace pmx {

void TMMComponent::SetDesignMode(bool value) {
  SetDesigning(value);
  for (int i = 0; i < ComponentCount(); ++i) {
    if (auto* owned = dynamic_cast<TMMComponent*>(Components(i))) owned->SetDesignMode(value);
  }
}

void TMMComponent::CheckDesignMode(bool value) {
  if (Designing() != value) SetDesignMode(value);
}

}  // namespace pmx
