#include "recorder/encoder_hand_off.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/ipc/program_folder.h"
#include "platform/ipc/spawn_detached.h"
#include "recorder/event_log.h"
#include "recorder/recorder_options.h"

namespace pmx {
namespace {

constexpr uint16_t kMp3 = 2;
constexpr uint16_t kOggVorbis = 3;

// A blank would split the name into two arguments.
std::string Starred(std::string file_name) {
  std::replace(file_name.begin(), file_name.end(), ' ', '*');
  return file_name;
}

std::string Parameters(const std::string& file_name, const std::string& setting,
                       TEncoderWindow window, int delay_ms, bool delete_wav) {
  std::string text = Starred(file_name) + " " + setting + " " + std::to_string(window.x) + " " +
                     std::to_string(window.y) + " " + std::to_string(delay_ms);
  if (delete_wav) text += " delete";
  return text;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; std::getline(in, word, ' ');) {
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

}  // namespace

int Mp3BitRate(uint16_t bit_rate_index) {
  constexpr std::array<int, 4> kHigh = {96, 128, 192, 256};
  if (bit_rate_index < 8) return 8 * (bit_rate_index + 1);
  if (bit_rate_index < 8 + kHigh.size()) return kHigh[bit_rate_index - 8];
  return 0;
}

std::string OggQuality(uint16_t quality_index) {
  const double quality = quality_index / 10.0 - 0.1;
  char text[32];
  const auto end = std::to_chars(text, text + sizeof text, quality, std::chars_format::general, 15).ptr;
  return std::string(text, end);
}

std::string Mp3Parameters(const TRecorderOptions& options, const std::string& file_name,
                          TEncoderWindow window, int delay_ms) {
  return Parameters(file_name, std::to_string(Mp3BitRate(options.BitRateIndex)), window,
                    delay_ms + 1, options.WavDays == 0);
}

std::string OggParameters(const TRecorderOptions& options, const std::string& file_name,
                          TEncoderWindow window, int delay_ms) {
  return Parameters(file_name, OggQuality(options.QualityIndex), window, delay_ms,
                    options.WavDays == 0);
}

void ShellStart(const std::filesystem::path& program, const std::string& parameters,
                const std::filesystem::path& directory) {
  if (SpawnDetached(program, SplitAtBlanks(parameters), directory) > 0) return;
  NoteInMonthlyLog("encoder not started: " + program.string() + ": " + std::strerror(errno));
}

void StartEncoder(const TRecorderOptions& options, std::filesystem::path encoder_folder,
                  const std::string& file_name, TEncoderWindow window, int delay_ms) {
  if (encoder_folder.empty()) encoder_folder = ExecutableFolder();
  if (options.RecordFormat == kMp3) {
    ShellStart(encoder_folder / "mosquill", Mp3Parameters(options, file_name, window, delay_ms),
               options.RecordingFolder);
  } else if (options.RecordFormat == kOggVorbis) {
    ShellStart(encoder_folder / "kobrinvert", OggParameters(options, file_name, window, delay_ms),
               options.RecordingFolder);
  }
}

}  // namespace pmx
