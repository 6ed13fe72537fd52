#pragma once

#include <string>

#include "recorder/recorder_clock.h"

namespace pmx {

// Sets the size fields of a closed recording from the file's real length: the RIFF
// size at offset 4 and the size of its "data" chunk, found by walking the chunks
// from offset 12 (a codec format's longer "fmt " chunk or a "LIST" before the data
// moves it). A data chunk that is followed by complete chunks up to the end of the
// file keeps its size. Sizes beyond 32 bits are written as 0xFFFFFFFF; the file's
// length never changes. Returns false, leaving the file as it was, when it holds
// no RIFF/WAVE "data" chunk. Raises EInOutError when it can't be opened, read or
// written.
bool FixWaveHeader(const std::string& file_name);

// Sets the file's modification time to when. Skipped (false) when the file can't
// be opened for reading and writing.
bool StampFileTime(const std::string& file_name, RecorderClock::TimePoint when);

}  // namespace pmx
