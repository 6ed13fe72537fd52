#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/streaming/au_input.h"

namespace pmx {

// Fetches from an initialised input until it ends, handing each buffer to take;
// the bytes fetched. Errors of the input or of take propagate.
int64_t FetchAll(TAuInput& input, const std::function<void(const uint8_t* data, uint32_t bytes)>& take);

// The whole frames a file decodes to through input, read to its end as a player
// would rather than taken from what its headers claim; -1 when it can't be opened
// or decoding fails on the way. Runs on the calling thread.
int64_t DecodedFrames(TAuFileIn& input, const std::string& file_name);

// The whole frames a file holds by its own bookkeeping, as input tells its size on
// opening, without decoding (an Ogg Vorbis file: its last page's granule position
// less the first audio page's start); -1 when it can't be opened or tells no size.
// Runs on the calling thread.
int64_t StatedFrames(TAuFileIn& input, const std::string& file_name);

}  // namespace pmx
