#pragma once

#include <string>
#include <vector>

#include "audio/core/files/wave_file.h"
#include "recorder/recorder_clock.h"

namespace pmx {

// The files of the running recording, each with the descriptor the chain took
// when it created it. A file deleted while it is written (its folder removed,
// say) keeps its data as long as a descriptor is open: the keeper tells that its
// name no longer leads to it, and once the chain has finished it, copies what it
// holds into a file of its own.
// Threads: GUI thread only.
class TRecordingKeeper {
 public:
  void Keep(TCreatedFile file);
  // The newest file kept, when its name no longer leads to it; empty otherwise.
  std::string Gone() const;
  // Takes the name of the file Gone gave for its copy, so that no new file takes it
  // meanwhile (when someone else has, the copy gets another name).
  void ReserveGone();
  // Readies the finished file name for its header fix and lets it go. When it was
  // deleted, what it holds is copied into a new file of that name (its folder made
  // again), or of the next free name from start in folder (the recording folder)
  // when that is taken, or, when the folder cannot be made again, in the settings
  // folder or else $HOME; where it went is logged.
  // A file moved away is copied too once its name was reserved; before that it is
  // left where it lives on. Gives the name the recording is under, empty for a file
  // left elsewhere. Raises EInOutError when the copy can't be made.
  std::string Restore(const std::string& name, RecorderClock::TimePoint start,
                      const std::string& folder);
  void Clear() { files_.clear(); }

 private:
  struct Kept {
    TCreatedFile file;
    UniqueFd copy;  // the reserved file under its name, once reserved
  };
  std::vector<Kept> files_;
};

}  // namespace pmx
