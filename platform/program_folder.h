#pragma once

#include <filesystem>

namespace pmx {

// The folder the programs and their files ("options.ini", logs, the encoders) live
// in: the folder of the running executable, or $PELMORAX_HOME when it is set and
// not empty. Read anew on every call, so a test can point it at its own folder.
std::filesystem::path ProgramFolder();

// The user's home folder: $HOME, else the password database's entry.
std::filesystem::path HomeFolder();

}  // namespace pmx
