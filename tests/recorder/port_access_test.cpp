#include "recorder/port_access.h"

#include <gtest/gtest.h>

#include "platform/ports/port_io.h"

namespace pmx {
namespace {

TEST(DetectPortAccess, SetsAccessOnlyWhenAPortCanBeClaimed) {
  bool available = false;
  PortIo::Instance().SetOpener([&available](int index) -> std::shared_ptr<ParallelPort> {
    return available && index == 2 ? std::make_shared<FakeParallelPort>() : nullptr;
  });
  bool access = false;
  DetectPortAccess(access);
  EXPECT_FALSE(access);
  available = true;
  DetectPortAccess(access);
  EXPECT_TRUE(access);
  available = false;
  DetectPortAccess(access);
  EXPECT_TRUE(access) << "left as it was";
  PortIo::Instance().SetOpener({});
}

}  // namespace
}  // namespace pmx
