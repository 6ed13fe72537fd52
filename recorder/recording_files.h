#pragma once

#include <string>

#include "recorder/recorder_clock.h"

namespace pmx {

struct TRecorderOptions;

// The retention sweep: deletes from the options' RecordingFolder the ".wav"
// files older than WavDays days (none when WavDays is 0) and the ".mp3" and ".ogg"
// files older than CompressedDays days. Extensions match in any case; only regular
// files are touched (a symlink is never followed out of the folder); read-only
// files stay. Each deletion is written to the monthly log.
void DeleteExpiredRecordings(const TRecorderOptions& options);

// folder (the recording folder) + "/" + the local start time (now unless given) as
// YYYYMMDDhhmmss + ".wav"; empty when folder is no directory. When that recording,
// or its ".mp3" or ".ogg", already exists, the next free second is taken.
std::string NewRecordingFileName(const std::string& folder);
std::string NewRecordingFileName(const std::string& folder, RecorderClock::TimePoint start);
// For a recording name someone else took meanwhile (a recorder of another name
// sharing the folder, started in the same second): the name NewRecordingFileName
// gives from the next second on. Empty for a name that is no start time.
std::string NextFreeRecordingFileName(const std::string& taken);

// Makes the recording folder, with its parents, when it names no directory, and
// logs that it did. Empty when the folder is there, else the system's reason why not.
std::string MakeRecordingFolder(const std::string& folder);

// True when the file does not exist or nobody holds its lock (the recorder holds
// flock(LOCK_EX) on the file it writes). Never raises.
bool FileNotInUse(const std::string& file_name);

// Deletes the file; true when that worked. A read-only file (no owner write
// permission) is kept and gives false. Never raises.
bool EraseFile(const std::string& file_name);

}  // namespace pmx
