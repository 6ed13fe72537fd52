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
// its four lines is no number. Something other than a regular file in its place
// (a FIFO, a device) is not opened for good, and the user is told.
std::optional<TWindowGeometry> ReadPreferences();

// Replaces "preferences.ini"; false when it could not be written. Something
// other than a regular file in its place is left as it is, and the user is told.
bool WritePreferences(const TWindowGeometry& geometry);

}  // namespace pmx
