#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "recorder/recorder_options.h"

namespace pmx {

// The first line of an options text that could not be taken, with the reason.
struct OptionsFileProblem {
  int line = 0;
  std::string what;
};

// Takes the 58 lines of an options text into record and its format buffer
// (RecordingFormat; nothing is stored there when it is null). Stops at the first
// line that is missing or holds no number: the lines before it keep their new
// values, the fields from it on keep what they held. A number outside the range
// of its setting is replaced by that setting in fallback, and the line is noted in
// adjusted with the value read and the value used.
std::optional<OptionsFileProblem> ReadOptionsText(std::string_view text, TRecorderOptions& record,
                                                  const TRecorderOptions& fallback,
                                                  std::vector<OptionsFileProblem>& adjusted);
// The same with the values record held as the fallback, and no notes.
std::optional<OptionsFileProblem> ReadOptionsText(std::string_view text, TRecorderOptions& record);

// The 58 lines of record, each ended by CR LF.
std::string WriteOptionsText(const TRecorderOptions& record);

}  // namespace pmx
