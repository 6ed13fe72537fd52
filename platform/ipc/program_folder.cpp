#include "platform/ipc/program_folder.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <system_error>

namespace pmx {

std::filesystem::path ProgramFolder() {
  if (const char* home = std::getenv("PELMORAX_HOME"); home && *home) return home;
  return ExecutableFolder();
}

std::filesystem::path ExecutableFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::filesystem::current_path(error);
  return exe.parent_path();
}

std::filesystem::path HomeFolder() {
  if (const char* home = std::getenv("HOME"); home && *home) return home;
  if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) return entry->pw_dir;
  return "/";
}

}  // namespace pmx
