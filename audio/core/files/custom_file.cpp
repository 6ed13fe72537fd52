#include "audio/core/files/custom_file.h"

namespace pmx {

int32_t TMMCustomFile::GetSampleRate() const {
  return PWaveFormat() ? static_cast<int32_t>(PWaveFormat()->nSamplesPerSec()) : 0;
}

int32_t TMMCustomFile::GetChannels() const {
  return PWaveFormat() ? PWaveFormat()->nChannels() : 0;
}

void TMMCustomFile::Changed() {
  if (OnChange) OnChange(this);
  if (OnChanged) OnChanged(this);
}

}  // namespace pmx
