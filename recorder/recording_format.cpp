#include "recorder/recording_format.h"

#include "audio/core/files/acm.h"
#include "recorder/recorder_options.h"

namespace pmx {

namespace {

bool HandStoredFormat(const TRecorderOptions& options, TMMACM& dialog) {
  if (!options.RecordingFormat) return false;
  try {
    dialog.SetFormat(options.RecordingFormat);
    return true;
  } catch (const EMMACMError&) {
    return false;
  }
}

}  // namespace

bool ChooseRecordingQuality(const TRecorderOptions& options, TMMACM& dialog, bool from_record) {
  const bool from_stored = from_record && HandStoredFormat(options, dialog);
  if (!dialog.ChooseFormat(from_stored ? dialog.PWaveFormat() : nullptr, "Recording quality")) {
    return false;
  }
  if (options.RecordingFormat) *options.RecordingFormat = *dialog.PWaveFormat();
  return true;
}

std::string RecordingQualityText(const TMMACM& dialog) {
  std::string tag_name;
  std::string format_text;
  if (!dialog.GetFormatDescription(dialog.PWaveFormat(), tag_name, format_text)) return {};
  return tag_name + " " + format_text;
}

}  // namespace pmx
