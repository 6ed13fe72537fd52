#include "recorder/recorder_options.h"

#include <cstring>
#include <optional>
#include <system_error>

#include "platform/file_write.h"
#include "platform/ipc/program_folder.h"
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

namespace {

// A plain message with the application title.
void Tell(const std::string& text) { ShowMessageBox(text, "Pelmorax"); }

std::filesystem::path OptionsFile() { return ProgramFolder() / "options.ini"; }

// Far more than 58 lines of settings; what lies beyond is not ours to read.
constexpr std::size_t kMaxOptionsBytes = 1 << 20;

std::string Days(int days) { return std::to_string(days) + (days == 1 ? " day" : " days"); }

// A first start: nobody has to be at the screen for the recorder to record.
void WriteFirstStartOptions(TRecorderSettings& settings) {
  TRecorderOptions defaults = DefaultRecorderOptions();
  defaults.RecordingFormat = &settings.RecordingFormatBuffer;
  *defaults.RecordingFormat = WaveFormatEx::Pcm(44100, 16, 2);
  settings.RecorderOptions = defaults;
  DeriveLptBaseAndComNumber(settings);
  std::error_code error;
  std::filesystem::create_directories(ProgramFolder(), error);
  if (ReplaceFileContents(OptionsFile(), WriteOptionsText(defaults))) {
    // A recorder started as a service shows nobody the window's warning.
    NoteInMonthlyLog("First start: default settings written to " + OptionsFile().string() +
                     "; recordings go to " + defaults.RecordingFolder +
                     "; WAV recordings are deleted after " + Days(defaults.WavDays) +
                     " and compressed ones after " + Days(defaults.CompressedDays) +
                     " (Options > Files)");
  } else {
    Tell("Error writing options.");
  }
  EnsureRecordingDirectory(defaults);
}

}  // namespace

void DeriveLptBaseAndComNumber(TRecorderSettings& settings) {
  settings.LptBase = 0;
  settings.ComNumber = 0;
  const uint16_t index = settings.RecorderOptions.PortIndex;
  static constexpr uint16_t kLptBases[] = {0x378, 0x278, 0x3BC};
  if (index <= 2) settings.LptBase = kLptBases[index];
  if (index >= 3 && index <= 8) settings.ComNumber = index - 2;
}

void LoadOptions(TRecorderSettings& settings) {
  TRecorderOptions& options = settings.RecorderOptions;
  options.RecordingFormat = &settings.RecordingFormatBuffer;
  options.DriveFlags[0] = true;
  options.RecordingFolder = (HomeFolder() / "Pelmorax").string();
  std::error_code error;
  if (!std::filesystem::exists(OptionsFile(), error) && !error) {
    WriteFirstStartOptions(settings);
    return;
  }
  std::string text;
  if (const int failure = ReadRegularFile(OptionsFile(), kMaxOptionsBytes, text)) {
    Tell("Error reading options (options.ini): " +
         (failure == kNotRegularFile ? std::string("it is not a regular file") : std::strerror(failure)) +
         ". The first-start settings are used.");
    return;
  }
  std::vector<OptionsFileProblem> adjusted;
  const std::optional<OptionsFileProblem> problem =
      ReadOptionsText(text, options, DefaultRecorderOptions(), adjusted);
  for (const OptionsFileProblem& value : adjusted) {
    Tell("Error reading options (options.ini): line " + std::to_string(value.line) + " " + value.what + ".");
  }
  if (problem) {
    Tell("Error reading options (options.ini): line " + std::to_string(problem->line) + " " +
                problem->what + ". The settings from this line on keep their previous values.");
  }
  DeriveLptBaseAndComNumber(settings);
}

bool SaveOptions(TRecorderSettings& settings, const TRecorderOptions& record) {
  if (!ReplaceFileContents(OptionsFile(), WriteOptionsText(record))) {
    Tell("Error writing options.");
    return false;
  }
  settings.RecorderOptions = record;
  DeriveLptBaseAndComNumber(settings);
  return true;
}

void EnsureRecordingDirectory(const TRecorderOptions& options) {
  const std::string& folder = options.RecordingFolder;
  std::error_code error;
  if (folder.size() <= 2 || std::filesystem::is_directory(folder, error)) return;
  if (!std::filesystem::create_directory(folder, error) || error) {
    Tell("Error generating : " + folder + " (" + (error ? error.message() : "not created") + ")");
  }
}

}  // namespace pmx
