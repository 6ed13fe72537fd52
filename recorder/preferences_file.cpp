#include "recorder/preferences_file.h"

#include <charconv>
#include <sstream>
#include <string>

#include "platform/file_write.h"
#include "platform/ipc/program_folder.h"
#include "platform/ui_hook.h"

namespace pmx {

namespace {

// Four short lines; anything longer is not ours.
constexpr std::size_t kMaxPreferencesBytes = 4096;

std::filesystem::path PreferencesFile() { return ProgramFolder() / "preferences.ini"; }

std::optional<int> ReadNumberLine(std::istream& in) {
  std::string line;
  if (!std::getline(in, line)) return std::nullopt;
  const char* first = line.data();
  const char* last = line.data() + line.size();
  while (first < last && *first == ' ') ++first;
  while (last > first && (last[-1] == '\r' || last[-1] == ' ')) --last;
  int value = 0;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last) return std::nullopt;
  return value;
}

// The stored geometry; failure is ReadRegularFile's result.
std::optional<TWindowGeometry> ReadGeometry(int& failure) {
  std::string text;
  failure = ReadRegularFile(PreferencesFile(), kMaxPreferencesBytes, text);
  if (failure != 0) return std::nullopt;
  std::istringstream file(text);
  TWindowGeometry geometry;
  for (int* field : {&geometry.Width, &geometry.Height, &geometry.Top, &geometry.Left}) {
    const std::optional<int> value = ReadNumberLine(file);
    if (!value) return std::nullopt;
    *field = *value;
  }
  return geometry;
}

}  // namespace

std::optional<TWindowGeometry> ReadPreferences() {
  int failure = 0;
  std::optional<TWindowGeometry> geometry = ReadGeometry(failure);
  if (failure == kNotRegularFile) {
    ShowMessageBox("Error reading preferences (preferences.ini): it is not a regular file. The window "
                   "keeps its first-start size and place.",
                   "Pelmorax");
  }
  return geometry;
}

bool WritePreferences(const TWindowGeometry& geometry) {
  int failure = 0;
  // A window that kept its place costs no write and no flush to the disk on close.
  if (ReadGeometry(failure) == geometry) return true;
  if (failure == kNotRegularFile) {
    ShowMessageBox("Error writing preferences (preferences.ini): it is not a regular file and is left as it is.",
                   "Pelmorax");
    return false;
  }
  std::string text;
  for (int value : {geometry.Width, geometry.Height, geometry.Top, geometry.Left}) {
    text += std::to_string(value) + "\r\n";
  }
  return ReplaceFileContents(PreferencesFile(), text);
}

}  // namespace pmx
