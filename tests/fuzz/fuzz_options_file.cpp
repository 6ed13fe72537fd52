// The options-file reader; what it reads in full must write back and read the same.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "recorder/options_file.h"
#include "tests/fuzz/fuzz_support.h"

using pmx::fuzz::Check;

namespace {

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  pmx::WaveFormatEx format;
  pmx::TRecorderOptions record;
  record.RecordingFormat = &format;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto problem = pmx::ReadOptionsText(text, record);
  if (problem) {
    Check(problem->line >= 1 && problem->line <= 58, "the problem names a line of the file");
    return 0;
  }
  Check(format.Extra().size() == format.cbSize(), "the format record is as long as it says");
  // A text line can't hold a line break; "\r" at a line's end is part of the break.
  if (HasLineBreak(record.RecordingFolder) || HasLineBreak(record.FormatText)) return 0;
  pmx::WaveFormatEx format_back;
  pmx::TRecorderOptions back;
  back.RecordingFormat = &format_back;
  Check(!pmx::ReadOptionsText(pmx::WriteOptionsText(record), back), "the written file reads");
  back.RecordingFormat = &format;
  Check(back == record, "the record reads back");
  Check(format_back.Bytes().size() == format.Bytes().size(), "the format reads back");
  return 0;
}
