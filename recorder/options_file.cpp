#include "recorder/options_file.h"

#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

namespace pmx {
namespace {

using Record = TRecorderOptions;

// Where a line is read to: the record, the values used for numbers out of range,
// and what was said about such numbers.
struct Target {
  Record& record;
  const Record& fallback;
  std::string note;
};

// How one line of the file is read into the record and written from it. read
// returns false when the line holds no value it can take.
struct Field {
  std::function<bool(Target&, std::string_view)> read;
  std::function<std::string(const Record&)> write;
};

// Gives the text line by line; a final line without its line end counts, the empty
// rest after a final line end does not.
class LineReader {
 public:
  explicit LineReader(std::string_view text) : rest_(text) {}

  std::optional<std::string_view> Next() {
    if (rest_.empty()) return std::nullopt;
    std::size_t end = rest_.find('\n');
    std::string_view line = rest_.substr(0, end);
    rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    ++number_;
    return line;
  }
  int LinesRead() const { return number_; }

 private:
  std::string_view rest_;
  int number_ = 0;
};

template <typename T>
std::string Decimal(T value) {
  char buffer[24];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

// The first blank-separated word of the line as a number. Numbers are written
// unsigned or signed 32-bit, so both ranges are taken.
std::optional<int64_t> ParseNumber(std::string_view line) {
  std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return std::nullopt;
  line.remove_prefix(start);
  std::string_view word = line.substr(0, line.find_first_of(" \t"));
  int64_t value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) {
    return std::nullopt;
  }
  return value;
}

// A number stored into a field of its own width: outside [min, max] the fallback's
// value is taken, so that no index or count falls on a meaning nobody chose.
template <typename T>
Field Number(T Record::*member, int64_t min = std::numeric_limits<T>::min(),
             int64_t max = std::numeric_limits<T>::max()) {
  return {[=](Target& target, std::string_view line) {
            std::optional<int64_t> value = ParseNumber(line);
            if (!value) return false;
            if (*value >= min && *value <= max) {
              target.record.*member = static_cast<T>(*value);
            } else {
              target.record.*member = target.fallback.*member;
              target.note = "holds " + Decimal(*value) + ", outside " + Decimal(min) + ".." + Decimal(max) +
                            ": " + Decimal(target.record.*member) + " is used";
            }
            return true;
          },
          [member](const Record& record) { return Decimal(record.*member); }};
}

// Numbers as the file stores them, of any width: higher bits are dropped.
template <typename T>
Field AnyNumber(T Record::*member) {
  return Number(member, std::numeric_limits<int32_t>::min(), std::numeric_limits<uint32_t>::max());
}

// field: a generic accessor giving the flag of a record, const or not.
template <typename Access>
Field Boolean(Access field) {
  return {[field](Target& target, std::string_view line) {
            field(target.record) = ContainsTrue(line);
            return true;
          },
          [field](const Record& record) { return std::string(field(record) ? "TRUE" : "FALSE"); }};
}

Field Text(std::string Record::*member) {
  return {[member](Target& target, std::string_view line) {
            target.record.*member = std::string(line);
            return true;
          },
          [member](const Record& record) { return record.*member; }};
}

// The extra bytes are not stored in the file; the record is kept consistent by
// giving it as many as its size field says, keeping those it already held.
void SetExtraSize(WaveFormatEx& format, uint16_t size) {
  std::vector<uint8_t> extra(format.Extra().begin(), format.Extra().end());
  extra.resize(size);
  format.SetExtra(extra);
}

// One fixed field of the format buffer.
Field FormatNumber(uint32_t (*get)(const WaveFormatEx&), void (*set)(WaveFormatEx&, uint32_t)) {
  return {[set](Target& target, std::string_view line) {
            std::optional<int64_t> value = ParseNumber(line);
            WaveFormatEx* format = target.record.RecordingFormat;
            if (value && format) set(*format, static_cast<uint32_t>(*value));
            return value.has_value();
          },
          [get](const Record& record) {
            return Decimal(record.RecordingFormat ? get(*record.RecordingFormat) : 0u);
          }};
}

std::vector<Field> MakeFieldsAfterSchedule() {
  std::vector<Field> fields;
  for (int drive = 0; drive < kDriveFlags; ++drive) {
    fields.push_back(Boolean([drive](auto& r) -> auto& { return r.DriveFlags[drive]; }));
  }
  fields.push_back(Text(&Record::RecordingFolder));
  fields.push_back(AnyNumber(&Record::FreeSpaceMB));
  using F = WaveFormatEx;
  fields.push_back(FormatNumber([](const F& f) -> uint32_t { return f.wFormatTag(); },
                                [](F& f, uint32_t v) { f.set_wFormatTag(static_cast<uint16_t>(v)); }));
  fields.push_back(FormatNumber([](const F& f) -> uint32_t { return f.nChannels(); },
                                [](F& f, uint32_t v) { f.set_nChannels(static_cast<uint16_t>(v)); }));
  fields.push_back(FormatNumber([](const F& f) { return f.nSamplesPerSec(); },
                                [](F& f, uint32_t v) { f.set_nSamplesPerSec(v); }));
  fields.push_back(FormatNumber([](const F& f) { return f.nAvgBytesPerSec(); },
                                [](F& f, uint32_t v) { f.set_nAvgBytesPerSec(v); }));
  fields.push_back(FormatNumber([](const F& f) -> uint32_t { return f.nBlockAlign(); },
                                [](F& f, uint32_t v) { f.set_nBlockAlign(static_cast<uint16_t>(v)); }));
  fields.push_back(FormatNumber([](const F& f) -> uint32_t { return f.wBitsPerSample(); },
                                [](F& f, uint32_t v) { f.set_wBitsPerSample(static_cast<uint16_t>(v)); }));
  fields.push_back(FormatNumber([](const F& f) -> uint32_t { return f.cbSize(); },
                                [](F& f, uint32_t v) { SetExtraSize(f, static_cast<uint16_t>(v)); }));
  fields.push_back(Text(&Record::FormatText));
  fields.push_back(Number(&Record::Threshold, 1, 32768));
  fields.push_back(Number(&Record::SilenceDelay, 1, 100));
  fields.push_back(Number(&Record::RecordFormat, 0, 3));
  fields.push_back(Number(&Record::SampleRateIndex, 0, 3));
  fields.push_back(Number(&Record::ChannelsIndex, 0, 3));
  fields.push_back(Number(&Record::CompressedDays, 1, 2000));
  fields.push_back(Number(&Record::BitRateIndex, 0, 11));
  fields.push_back(Number(&Record::InDevice));
  fields.push_back(Number(&Record::OutDevice));
  fields.push_back(Boolean([](auto& r) -> auto& { return r.HideDelete; }));
  fields.push_back(Boolean([](auto& r) -> auto& { return r.SoftGap; }));
  fields.push_back(Boolean([](auto& r) -> auto& { return r.AlarmOutputs; }));
  // A port index past the last port means no port.
  fields.push_back(AnyNumber(&Record::PortIndex));
  fields.push_back(Number(&Record::EncoderDelay, 0, 10));
  fields.push_back(Number(&Record::WavDays, 0, 2000));
  fields.push_back(Number(&Record::QualityIndex, 0, 11));
  fields.push_back(Number(&Record::StopDelay, 0, 50));
  return fields;
}

// Lines 26 to 58, in file order.
const std::vector<Field>& FieldsAfterSchedule() {
  static const std::vector<Field> fields = MakeFieldsAfterSchedule();
  return fields;
}

const Field& SaveModeField() {
  static const Field field = Number(&Record::SaveMode, 0, 7);
  return field;
}

// One schedule line holds a field of 5 characters per row; a short line leaves
// the last fields empty.
using ScheduleFields = std::array<std::string_view, kScheduleRows>;

ScheduleFields SplitScheduleLine(std::string_view line) {
  ScheduleFields fields{};
  for (std::size_t row = 0; row < fields.size() && row * 5 < line.size(); ++row) {
    fields[row] = line.substr(row * 5, 5);
  }
  return fields;
}

// An hour beyond the end of the file takes the fields of the last hour read.
void ReadSchedule(LineReader& lines, Record& record) {
  ScheduleFields fields{};
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    if (std::optional<std::string_view> line = lines.Next()) fields = SplitScheduleLine(*line);
    for (int row = 0; row < kScheduleRows; ++row) {
      record.Schedule[row][hour] = ContainsTrue(fields[row]);
    }
  }
}

std::optional<OptionsFileProblem> ReadLine(LineReader& lines, const Field& field, Target& target,
                                           std::vector<OptionsFileProblem>& adjusted) {
  std::optional<std::string_view> line = lines.Next();
  if (!line) return OptionsFileProblem{lines.LinesRead() + 1, "is missing"};
  if (!field.read(target, *line)) return OptionsFileProblem{lines.LinesRead(), "holds no number"};
  if (!target.note.empty()) adjusted.push_back({lines.LinesRead(), std::exchange(target.note, {})});
  return std::nullopt;
}

}  // namespace

bool ContainsTrue(std::string_view text) { return text.find("TRUE") != std::string_view::npos; }

std::optional<OptionsFileProblem> ReadOptionsText(std::string_view text, TRecorderOptions& record,
                                                  const TRecorderOptions& fallback,
                                                  std::vector<OptionsFileProblem>& adjusted) {
  LineReader lines(text);
  Target target{record, fallback, {}};
  if (auto problem = ReadLine(lines, SaveModeField(), target, adjusted)) return problem;
  ReadSchedule(lines, record);
  for (const Field& field : FieldsAfterSchedule()) {
    if (auto problem = ReadLine(lines, field, target, adjusted)) return problem;
  }
  return std::nullopt;
}

std::optional<OptionsFileProblem> ReadOptionsText(std::string_view text, TRecorderOptions& record) {
  const TRecorderOptions before = record;
  std::vector<OptionsFileProblem> ignored;
  return ReadOptionsText(text, record, before, ignored);
}

std::string WriteOptionsText(const TRecorderOptions& record) {
  std::string text;
  auto add = [&text](const std::string& line) { text += line + "\r\n"; };
  add(SaveModeField().write(record));
  for (int hour = 0; hour < kScheduleHours; ++hour) {
    std::string line;
    for (int row = 0; row < kScheduleRows; ++row) line += record.Schedule[row][hour] ? " TRUE" : "FALSE";
    add(line);
  }
  for (const Field& field : FieldsAfterSchedule()) add(field.write(record));
  return text;
}

}  // namespace pmx
