#include "audio/core/chain/sound_component.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace pmx {
namespace {

using Log = std::vector<std::string>;

// Records each lifecycle notification it receives before handling it.
template <class Base>
class Logged : public Base {
 public:
  Logged(std::string name, Log& log) : name_(std::move(name)), log_(log) {
    this->PublishLinks(true, true);
  }
  void Opened() override {
    Note("Opened");
    Base::Opened();
  }
  void Closed() override {
    Note("Closed");
    Base::Closed();
  }
  void Started() override {
    Note("Started");
    Base::Started();
  }
  void Paused() override {
    Note("Paused");
    Base::Paused();
  }
  void Restarted() override {
    Note("Restarted");
    Base::Restarted();
  }
  void Stopped() override {
    Note("Stopped");
    Base::Stopped();
  }
  void Reset() override {
    Note("Reset");
    Base::Reset();
  }

 private:
  void Note(const char* what) { log_.push_back(name_ + "." + what); }
  std::string name_;
  Log& log_;
};

class Device : public Logged<TMMCustomSoundComponent> {
 public:
  using Logged::Logged;
  int32_t NumBuffers() const override { return 4; }
  void SetNumBuffers(int32_t) override {}
  TMMDeviceId DeviceID() const override { return 0; }
  void SetDeviceID(TMMDeviceId) override {}
  std::string ProductName() const override { return "test"; }
  void SetProductName(const std::string&) override {}
  TMMCBMode CallBackMode() const override { return TMMCBMode::cmThread; }
  void SetCallBackMode(TMMCBMode) override {}
};

using Plain = Logged<TMMDSPComponent>;

// head -> d1 -> p1 -> p2 -> d2 -> p3: two devices, each with its own stretch.
class SegmentWalk : public ::testing::Test {
 protected:
  SegmentWalk() {
    head.SetOutput(&d1);
    d1.SetOutput(&p1);
    p1.SetOutput(&p2);
    p2.SetOutput(&d2);
    d2.SetOutput(&p3);
    const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);
    head.SetPWaveFormat(&f);
    d1.SetBufferSize(16002);
    log.clear();
  }
  std::vector<TMMDSPComponent*> All() { return {&head, &d1, &p1, &p2, &d2, &p3}; }
  Log Take() { return std::exchange(log, {}); }

  Log log;
  Plain head{"head", log};
  Device d1{"d1", log};
  Plain p1{"p1", log};
  Plain p2{"p2", log};
  Device d2{"d2", log};
  Plain p3{"p3", log};
};

TEST_F(SegmentWalk, OpeningADeviceOpensItsStretchAndTheNextDeviceWithItsBufferSize) {
  d1.Opened();
  EXPECT_EQ(Take(), (Log{"d1.Opened", "head.Opened", "p1.Opened", "p2.Opened", "d2.Opened",
                         "p3.Opened"}));
  for (TMMDSPComponent* node : All()) {
    EXPECT_TRUE(node->IsOpened());
    EXPECT_EQ(node->BufferSize(), 16000);
  }
  EXPECT_FALSE(d1.UpstreamDevice());
  EXPECT_TRUE(d2.UpstreamDevice());
}

TEST_F(SegmentWalk, StateFlagsFollowTheWholeLifecycle) {
  d1.Opened();
  d1.Started();
  for (TMMDSPComponent* node : All()) EXPECT_TRUE(node->IsStarted());
  d1.Paused();
  for (TMMDSPComponent* node : All()) EXPECT_TRUE(node->IsPaused());
  d1.Restarted();
  for (TMMDSPComponent* node : All()) EXPECT_FALSE(node->IsPaused());
  Take();

  d1.Stopped();
  EXPECT_EQ(Take(), (Log{"d1.Stopped", "d2.Stopped", "p3.Stopped", "head.Stopped", "p1.Stopped",
                         "p2.Stopped"}));
  for (TMMDSPComponent* node : All()) {
    EXPECT_FALSE(node->IsStarted());
    EXPECT_TRUE(node->IsOpened());
  }
  d1.Closed();
  EXPECT_EQ(Take(), (Log{"d1.Closed", "d2.Closed", "p3.Closed", "head.Closed", "p1.Closed",
                         "p2.Closed"}));
  for (TMMDSPComponent* node : All()) EXPECT_FALSE(node->IsOpened());
}

TEST_F(SegmentWalk, ADeviceBelowAnotherReachesOnlyItsOwnStretch) {
  d2.Opened();
  d2.Started();
  d2.Reset();
  EXPECT_EQ(Take(), (Log{"d2.Opened", "p3.Opened", "d2.Started", "p3.Started", "d2.Reset",
                         "p3.Reset"}));
  EXPECT_TRUE(p3.IsStarted());
  EXPECT_FALSE(p2.IsOpened());
  EXPECT_FALSE(head.IsOpened());
}

}  // namespace
}  // namespace pmx
