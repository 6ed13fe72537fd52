#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wave_types.h"

namespace pmx {

// Rows of the weekly schedule: row 0 every day, rows 1..7 Monday..Sunday.
constexpr int kScheduleRows = 8;
constexpr int kScheduleHours = 24;
constexpr int kDriveFlags = 6;

// Every setting of the recorder, as "options.ini" holds them.
// Threads: GUI thread only.
struct TRecorderOptions {
  int32_t SaveMode = 0;
  // [row][hour]
  std::array<std::array<bool, kScheduleHours>, kScheduleRows> Schedule{};
  // Drives C: to H:; kept and written back, only their being set matters.
  std::array<bool, kDriveFlags> DriveFlags{};
  std::string RecordingFolder;
  int32_t FreeSpaceMB = 0;
  // The settings' format buffer (TRecorderSettings); the record holds no copy of its own.
  WaveFormatEx* RecordingFormat = nullptr;
  std::string FormatText;
  uint16_t Threshold = 0;
  uint16_t SilenceDelay = 0;
  uint16_t RecordFormat = 0;
  uint16_t SampleRateIndex = 0;
  uint16_t ChannelsIndex = 0;
  uint16_t CompressedDays = 0;
  uint16_t BitRateIndex = 0;
  uint8_t InDevice = 0;
  uint8_t OutDevice = 0;
  bool HideDelete = false;
  bool SoftGap = false;
  bool AlarmOutputs = false;
  uint16_t PortIndex = 0;
  uint16_t EncoderDelay = 0;
  uint16_t WavDays = 0;
  uint16_t QualityIndex = 0;
  uint16_t StopDelay = 0;

  bool operator==(const TRecorderOptions&) const = default;
};

// The settings of a first start: recordings started and stopped by hand, 44.1 kHz
// stereo 16-bit WAV into $HOME/Pelmorax of the user who runs the recorder, kept
// one day. RecordingFormat is left null.
TRecorderOptions DefaultRecorderOptions();

// The recorder's settings and what is derived from them. The main window owns
// one, loads it from "options.ini" and lends it to the parts of the recorder that
// read it. RecordingFormat points into it: it is neither copied nor moved.
// Threads: GUI thread only.
struct TRecorderSettings {
  TRecorderSettings() = default;
  explicit TRecorderSettings(const TRecorderOptions& options) : RecorderOptions(options) {}
  TRecorderSettings(const TRecorderSettings&) = delete;
  TRecorderSettings& operator=(const TRecorderSettings&) = delete;

  // Starts with the first-start settings, so that lines missing from a damaged
  // "options.ini" keep safe values rather than zeros.
  TRecorderOptions RecorderOptions = DefaultRecorderOptions();
  // Derived from RecorderOptions.PortIndex after every load and save: the parallel
  // port's base address (LPT1..LPT3) and the serial port's number (COM1..COM6).
  uint16_t LptBase = 0;
  uint16_t ComNumber = 0;
  // What RecorderOptions.RecordingFormat points to once the options are loaded.
  WaveFormatEx RecordingFormatBuffer;
};

// True when "TRUE" occurs in text (case as written).
bool ContainsTrue(std::string_view text);

// Sets LptBase and ComNumber from RecorderOptions.PortIndex.
void DeriveLptBaseAndComNumber(TRecorderSettings& settings);

// Reads "options.ini" of the program folder into RecorderOptions. Without one (a
// first start) the first-start settings are written there, logged, and their
// recording folder is created; an unreadable file leaves the defaults; a malformed
// one keeps what was read before the bad line and tells the user which line it
// was. Start-up always goes on.
void LoadOptions(TRecorderSettings& settings);

// Writes record to "options.ini" (replacing the old file only once the new one is
// complete). On success record becomes RecorderOptions and LptBase/ComNumber are
// derived; on failure the user is told and RecorderOptions stays as it was.
bool SaveOptions(TRecorderSettings& settings, const TRecorderOptions& record);

// Creates the options' RecordingFolder (one level) when it names no directory.
void EnsureRecordingDirectory(const TRecorderOptions& options);

}  // namespace pmx
