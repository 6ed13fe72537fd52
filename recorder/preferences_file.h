#pragma once

#include <optional>

namespace pmx {

// The main window's geometry as "preferences.ini" in the program folder keeps it:
// four lines, width, height, top and left.
struct TWindowGeometry {
  int Width = 0;
  int Height = 0;
  int Top = 0;
  int Left = 0;
  bool operator==(const TWindowGeometry&) const = default;
};

// The geometry of "preferences.ini"; nothing when the file is missing or one of
// its four lines is no number.
std::optional<TWindowGeometry> ReadPreferences();

// Replaces "preferences.ini"; false when it could not be written.
bool WritePreferences(const TWindowGeometry& geometry);

}  // namespace pmx
