#include "recorder/recording_format.h"

#include "audio/core/acm.h"
#include "recorder/recorder_options.h"

namespace pmx {

namespace {

bool HandStoredFormat(TMMACM& dialog) {
  if (!RecorderOptions.RecordingFormat) return false;
  try {
    dialog.SetFormat(RecorderOptions.RecordingFormat);
    return true;
  } catch (const EMMACMError&) {
    return false;
  }
}

}  // namespace

bool ChooseRecordingQuality(TMMACM& dialog, bool from_record) {
  const bool from_stored = from_record && HandStoredFormat(dialog);
  if (!dialog.ChooseFormat(from_stored ? dialog.PWaveFormat() : nullptr, "Recording quality")) {
    return false;
  }
  if (RecorderOptions.RecordingFormat) *RecorderOptions.RecordingFormat = *dialog.PWaveFormat();
  return true;
}

std::string RecordingQualityText(const TMMACM& dialog) {
  std::string tag_name;
  std::string format_text;
  if (!dialog.GetFormatDescription(dialog.PWaveFormat(), tag_name, format_text)) return {};
  return tag_name + " " + format_text;
}

}  // namespace pmx
