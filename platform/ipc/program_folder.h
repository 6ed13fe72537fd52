#pragma once

#include <filesystem>

namespace pmx {

// The folder of the settings ("options.ini", "preferences.ini") and the logs: the
// folder of the running executable, or $PELMORAX_HOME when it is set and not empty.
// Read anew on every call, so a test can point it at its own folder.
std::filesystem::path ProgramFolder();

// The folder of the running executable, where the programs it starts (the
// encoders) are installed beside it, whatever $PELMORAX_HOME says.
std::filesystem::path ExecutableFolder();

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path HomeFolder();

}  // namespace pmx
