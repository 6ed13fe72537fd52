#include "recorder/preferences_file.h"

#include <charconv>
#include <fstream>
#include <string>

#include "platform/file_write.h"
#include "platform/ipc/program_folder.h"

namespace pmx {

namespace {

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

}  // namespace

std::optional<TWindowGeometry> ReadPreferences() {
  std::ifstream file(PreferencesFile(), std::ios::binary);
  if (!file) return std::nullopt;
  TWindowGeometry geometry;
  for (int* field : {&geometry.Width, &geometry.Height, &geometry.Top, &geometry.Left}) {
    const std::optional<int> value = ReadNumberLine(file);
    if (!value) return std::nullopt;
    *field = *value;
  }
  return geometry;
}

bool WritePreferences(const TWindowGeometry& geometry) {
  // A window that kept its place costs no write and no flush to the disk on close.
  if (ReadPreferences() == geometry) return true;
  std::string text;
  for (int value : {geometry.Width, geometry.Height, geometry.Top, geometry.Left}) {
    text += std::to_string(value) + "\r\n";
  }
  return ReplaceFileContents(PreferencesFile(), text);
}

}  // namespace pmx
