#include "platform/ipc/program_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace pmx {
namespace {

TEST(ProgramFolder, IsTheExecutablesFolderUnlessPelmoraxHomeIsSet) {
  unsetenv("PELMORAX_HOME");
  EXPECT_TRUE(std::filesystem::exists(ProgramFolder() / "platform_ipc_tests"));
  setenv("PELMORAX_HOME", "", 1);
  EXPECT_TRUE(std::filesystem::exists(ProgramFolder() / "platform_ipc_tests"));
  setenv("PELMORAX_HOME", "/srv/pelmorax", 1);
  EXPECT_EQ(ProgramFolder(), "/srv/pelmorax");
  EXPECT_TRUE(std::filesystem::exists(ExecutableFolder() / "platform_ipc_tests"))
      << "the programs stay where they are installed";
  unsetenv("PELMORAX_HOME");
}

}  // namespace
}  // namespace pmx
