#include "audio/core/objects/mm_strings.h"

#include <gtest/gtest.h>

namespace pmx {
namespace {

TEST(MMStrings, TextsByNumber) {
  EXPECT_EQ(LoadMMResString(60), "Change to property while device was open");
  EXPECT_EQ(LoadMMResString(87), "The actual device can''t record this format");
  EXPECT_EQ(LoadMMResString(SCantPlayFormat), "The actual device can''t play this format");
  EXPECT_EQ(LoadMMResString(4), "Wave Files(*.wav)|*.wav");
  EXPECT_EQ(LoadMMResString(133), "Invalid wave file...");
  EXPECT_EQ(LoadMMResString(999), "");
}

}  // namespace
}  // namespace pmx
