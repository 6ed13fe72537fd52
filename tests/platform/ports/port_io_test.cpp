#include "platform/ports/port_io.h"

#include <gtest/gtest.h>

#include "tests/support/temp_dir.h"

#include <fstream>

namespace pmx {
namespace {

using W = FakeParallelPort::RegisterWrite;

// Fake ports 0..2 behind the process-wide port table; the ppdev opener returns after.
class PortIoTest : public ::testing::Test {
 protected:
  PortIoTest() {
    PortIo::Instance().SetOpener([this](int index) -> std::shared_ptr<ParallelPort> {
      ++opens_[index];
      return available_[index] ? ports_[index] : nullptr;
    });
  }
  ~PortIoTest() override { PortIo::Instance().SetOpener({}); }

  std::array<std::shared_ptr<FakeParallelPort>, 3> ports_ = {
      std::make_shared<FakeParallelPort>(), std::make_shared<FakeParallelPort>(),
      std::make_shared<FakeParallelPort>()};
  std::array<bool, 3> available_ = {true, true, true};
  std::array<int, 3> opens_{};
};

TEST_F(PortIoTest, AddressesSelectPortAndRegister) {
  ports_[0]->SetStatus(0x78);
  ports_[2]->SetStatus(0x10);
  PortOut(0x37A, 1);
  PortOut(0x378, 0x1F);
  PortOut(0x37A, 0);
  EXPECT_EQ(PortIn(0x379), 0x78);
  EXPECT_EQ(PortIn(0x378), 0x1F);
  EXPECT_EQ(ports_[0]->Writes(), (std::vector<W>{{LptRegister::Control, 1},
                                                 {LptRegister::Data, 0x1F},
                                                 {LptRegister::Control, 0}}));
  PortOut(0x278, 0x20);
  EXPECT_EQ(ports_[1]->Writes(), (std::vector<W>{{LptRegister::Data, 0x20}}));
  EXPECT_EQ(PortIn(0x3BD), 0x10);
  PortOut(0x3BE, 4);
  EXPECT_EQ(ports_[2]->Writes(), (std::vector<W>{{LptRegister::Control, 4}}));
  EXPECT_EQ(opens_, (std::array<int, 3>{1, 1, 1})) << "a port opens once and is kept";

  // Addresses of no port read 0 and write nowhere.
  EXPECT_EQ(PortIn(0x37B), 0);
  PortOut(0x377, 1);
  EXPECT_EQ(ports_[0]->Writes().size(), 3u);
}

TEST_F(PortIoTest, UnavailablePortReadsZeroAndIsTriedAgain) {
  available_ = {false, false, false};
  ports_[0]->SetStatus(0xFF);
  EXPECT_FALSE(PortIo::Instance().AnyPortAvailable());
  EXPECT_EQ(PortIn(0x379), 0);
  PortOut(0x378, 1);
  EXPECT_TRUE(ports_[0]->Writes().empty());
  available_[0] = true;
  EXPECT_TRUE(PortIo::Instance().AnyPortAvailable());
  EXPECT_EQ(PortIn(0x379), 0xFF);
}

TEST(PpdevPort, OnlyAClaimableDeviceOpens) {
  test::TempDir dir;
  std::ofstream(dir / "plain") << "x";
  EXPECT_EQ(OpenPpdevPort((dir / "plain").string()), nullptr) << "a plain file can't be claimed";
  EXPECT_EQ(OpenPpdevPort((dir / "missing").string()), nullptr);
}

}  // namespace
}  // namespace pmx
