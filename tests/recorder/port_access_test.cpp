#include "recorder/port_access.h"

#include <gtest/gtest.h>

#include "platform/port_io.h"

namespace pmx {
namespace {

TEST(DetectPortAccess, SetsAccessOnlyWhenAPortCanBeClaimed) {
  bool available = false;
  PortIo::Instance().SetOpener([&available](int index) -> std::shared_ptr<ParallelPort> {
    return available && index == 2 ? std::make_shared<FakeParallelPort>() : nullptr;
  });
  PortAccess = false;
  DetectPortAccess();
  EXPECT_FALSE(PortAccess);
  available = true;
  DetectPortAccess();
  EXPECT_TRUE(PortAccess);
  available = false;
  DetectPortAccess();
  EXPECT_TRUE(PortAccess) << "left as it was";
  PortAccess = false;
  PortIo::Instance().SetOpener({});
}

}  // namespace
}  // namespace pmx
