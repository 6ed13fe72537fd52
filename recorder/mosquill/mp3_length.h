#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pmx {

// What an MP3 file holds, as its frame headers and its encoder's info tag tell.
struct TMp3Length {
  int64_t samples = 0;    // sample frames its audio frames decode to, delay and padding included
  int frame_samples = 0;  // sample frames per MP3 frame
  int rate = 0;           // Hz
  // The encoder's delay plus padding, from the info frame lame writes ("Xing" or
  // "Info") when a frame can hold it.
  std::optional<int> trimmed;
};

// Walks the frame headers of an MPEG layer III file without decoding it. None
// unless its frames, all at one sample rate, run whole to the end of the file or
// to an ID3v1 tag closing it: the file is short, damaged or not an MP3.
std::optional<TMp3Length> StatedMp3Length(const std::string& path);

}  // namespace pmx
