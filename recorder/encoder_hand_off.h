#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace pmx {

struct TRecorderOptions;

// Where the encoder's window goes.
struct TEncoderWindow {
  int x = 0;
  int y = 0;
};

// MP3 bitrate in kbps of a BitRateIndex: 8, 16 .. 64, then 96, 128, 192, 256; 0 for
// an index beyond the table (the encoder refuses it and the WAV stays).
int Mp3BitRate(uint16_t bit_rate_index);

// Ogg Vorbis quality of a QualityIndex: index / 10 - 0.1 in its shortest form, up
// to 15 significant digits, with a decimal point whatever the locale ("-0.1", "0",
// "0.2", "1").
std::string OggQuality(uint16_t quality_index);

// The encoders' parameter texts for a recording: the file with every blank written
// "*", the bitrate (MP3) or the quality (Ogg Vorbis), the window's x and y, the
// start delay in ms (one more for MP3) and " delete" when WAVs are not kept
// (WavDays 0). Settings come from options.
std::string Mp3Parameters(const TRecorderOptions& options, const std::string& file_name,
                          TEncoderWindow window, int delay_ms);
std::string OggParameters(const TRecorderOptions& options, const std::string& file_name,
                          TEncoderWindow window, int delay_ms);

// Starts program with the parameter text split at its blanks as arguments, in
// directory; never through a shell, without waiting. A program that can't be
// started is written to the monthly log; nothing is reported to the caller.
void ShellStart(const std::filesystem::path& program, const std::string& parameters,
                const std::filesystem::path& directory);

// Hands a finished recording to the encoder RecordFormat names ("mosquill" for MP3,
// "kobrinvert" for Ogg Vorbis, in encoder_folder, or beside the running program
// when that is empty), working in RecordingFolder. Other formats start nothing.
void StartEncoder(const TRecorderOptions& options, std::filesystem::path encoder_folder,
                  const std::string& file_name, TEncoderWindow window, int delay_ms);

}  // namespace pmx
