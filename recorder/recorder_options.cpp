#include "recorder/recorder_options.h"

#include <fstream>
#include <optional>
#include <system_error>

#include "platform/file_write.h"
#include "platform/program_folder.h"
#include "platform/ui_hook.h"
#include "recorder/event_log.h"
#include "recorder/options_file.h"

namespace pmx {

TRecorderOptions DefaultRecorderOptions() {
  TRecorderOptions o;
  o.SaveMode = 5;
  o.DriveFlags[0] = true;
  o.RecordingFolder = (HomeFolder() / "Pelmorax").string();
  o.FreeSpaceMB = 50;
  o.Threshold = 1000;
  o.SilenceDelay = 30;
  o.SampleRateIndex = 3;
  o.ChannelsIndex = 3;
  o.CompressedDays = 1;
  o.BitRateIndex = 9;
  o.WavDays = 1;
  o.QualityIndex = 3;
  return o;
}

TRecorderOptions RecorderOptions = DefaultRecorderOptions();
uint16_t LptBase = 0;
uint16_t ComNumber = 0;

namespace {

WaveFormatEx* format_buffer = nullptr;

WaveFormatEx* RecordingFormatBuffer() {
  static WaveFormatEx stand_in;
  return format_buffer ? format_buffer : &stand_in;
}

// A plain message with the application title.
void Tell(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

std::filesystem::path OptionsFile() { return ProgramFolder() / "options.ini"; }

// Far more than 58 lines of settings; what lies beyond is not ours to read.
constexpr std::streamsize kMaxOptionsBytes = 1 << 20;

std::optional<std::string> ReadOptionsFile() {
  std::ifstream file(OptionsFile(), std::ios::binary);
  if (!file) return std::nullopt;
  std::string text(kMaxOptionsBytes, '\0');
  file.read(text.data(), kMaxOptionsBytes);
  if (file.bad()) return std::nullopt;
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

// A first start: nobody has to be at the screen for the recorder to record.
void WriteFirstStartOptions() {
  TRecorderOptions defaults = DefaultRecorderOptions();
  defaults.RecordingFormat = RecordingFormatBuffer();
  *defaults.RecordingFormat = WaveFormatEx::Pcm(44100, 16, 2);
  RecorderOptions = defaults;
  DeriveLptBaseAndComNumber();
  std::error_code error;
  std::filesystem::create_directories(ProgramFolder(), error);
  if (ReplaceFileContents(OptionsFile(), WriteOptionsText(defaults))) {
    NoteInMonthlyLog("First start: default settings written to " + OptionsFile().string() +
                     "; recordings go to " + defaults.RecordingFolder);
  } else {
    Tell("Error writing options.");
  }
  EnsureRecordingDirectory();
}

}  // namespace

void SetRecordingFormatBuffer(WaveFormatEx* buffer) { format_buffer = buffer; }

void DeriveLptBaseAndComNumber() {
  LptBase = 0;
  ComNumber = 0;
  const uint16_t index = RecorderOptions.PortIndex;
  static constexpr uint16_t kLptBases[] = {0x378, 0x278, 0x3BC};
  if (index <= 2) LptBase = kLptBases[index];
  if (index >= 3 && index <= 8) ComNumber = index - 2;
}

void LoadOptions() {
  RecorderOptions.RecordingFormat = RecordingFormatBuffer();
  RecorderOptions.DriveFlags[0] = true;
  RecorderOptions.RecordingFolder = (HomeFolder() / "Pelmorax").string();
  std::error_code error;
  if (!std::filesystem::exists(OptionsFile(), error) && !error) {
    WriteFirstStartOptions();
    return;
  }
  std::optional<std::string> text = ReadOptionsFile();
  if (!text) {
    Tell("Error reading options (options.ini).");
    return;
  }
  std::vector<OptionsFileProblem> adjusted;
  const std::optional<OptionsFileProblem> problem =
      ReadOptionsText(*text, RecorderOptions, DefaultRecorderOptions(), adjusted);
  for (const OptionsFileProblem& value : adjusted) {
    Tell("Error reading options (options.ini): line " + std::to_string(value.line) + " " + value.what + ".");
  }
  if (problem) {
    Tell("Error reading options (options.ini): line " + std::to_string(problem->line) + " " +
                problem->what + ". The settings from this line on keep their previous values.");
  }
  DeriveLptBaseAndComNumber();
}

bool SaveOptions(const TRecorderOptions& record) {
  if (!ReplaceFileContents(OptionsFile(), WriteOptionsText(record))) {
    Tell("Error writing options.");
    return false;
  }
  RecorderOptions = record;
  DeriveLptBaseAndComNumber();
  return true;
}

void EnsureRecordingDirectory() {
  const std::string& folder = RecorderOptions.RecordingFolder;
  std::error_code error;
  if (folder.size() <= 2 || std::filesystem::is_directory(folder, error)) return;
  if (!std::filesystem::create_directory(folder, error) || error) {
    Tell("Error generating : " + folder + " (" + (error ? error.message() : "not created") + ")");
  }
}

}  // namespace pmx
