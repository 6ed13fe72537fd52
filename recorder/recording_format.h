#pragma once

#include <string>

namespace pmx {

class TMMACM;
struct TRecorderOptions;

// The recording quality dialog over the options' RecordingFormat: hands the stored format to
// dialog (when from_record and the registry knows it), runs the chooser titled
// "Recording quality" and, when the user accepts, keeps the choice in
// RecordingFormat. A stored format the registry refuses (a zero-filled buffer
// before the first choice, say) starts the chooser from no format instead.
// False when cancelled or without the registry. GUI thread only.
bool ChooseRecordingQuality(const TRecorderOptions& options, TMMACM& dialog, bool from_record);

// "<tag name> <format text>" of the dialog's current format.
std::string RecordingQualityText(const TMMACM& dialog);

}  // namespace pmx
