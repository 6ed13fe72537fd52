#include "audio/core/chain/connector.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/codecs/acm.h"
#include "platform/main_loop.h"
#include "tests/support/acm_test_support.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// Records what the connector hands it; blocks are read as their first 16-bit word.
class FakeDisplay : public TComponent, public TMMDisplayFeed {
 public:
  explicit FakeDisplay(int step = 100) : step_(step) {}
  void SetPCMWaveFormat(PWaveFormatEx format) override {
    std::lock_guard lock(mutex);
    formats.push_back(*format);
  }
  void RefreshPCMData(const void* data) override {
    int16_t first = 0;
    std::memcpy(&first, data, sizeof first);
    std::lock_guard lock(mutex);
    blocks.push_back(first);
    first_bytes.push_back(*static_cast<const uint8_t*>(data));
    times.push_back(GetMicroTime());
  }
  void ResetData() override { resets++; }
  int BytesPerRefresh() const override { return step_; }

  size_t BlockCount() {
    std::lock_guard lock(mutex);
    return blocks.size();
  }

  std::mutex mutex;
  std::vector<WaveFormatEx> formats;
  std::vector<int16_t> blocks;
  std::vector<uint8_t> first_bytes;
  std::vector<int64_t> times;
  std::atomic<int> resets{0};

 private:
  int step_;
};

class Node : public TMMDSPComponent {
 public:
  Node() { PublishLinks(true, true); }
  std::atomic<int> received{0};
  void BufferReady(WAVEHDR* h) override {
    received++;
    TMMDSPComponent::BufferReady(h);
  }
};

// A buffer of 16-bit words where each block of step bytes holds its number.
std::vector<char> NumberedBuffer(int bytes, int step, int first_number) {
  std::vector<char> buffer(bytes);
  for (int at = 0; at + 2 <= bytes; at += 2) {
    const auto n = static_cast<int16_t>(first_number + at / step);
    std::memcpy(buffer.data() + at, &n, 2);
  }
  return buffer;
}

WAVEHDR Header(std::vector<char>& data) {
  WAVEHDR h;
  h.lpData = data.data();
  h.dwBufferLength = h.dwBytesRecorded = static_cast<uint32_t>(data.size());
  return h;
}

struct ConnectorTest : ::testing::Test {
  PlainMainLoop loop;
  ScopedMainLoop scoped{loop};

  // Formats, opens and starts c; the start call is handled.
  void Start(TMMConnector& c, const WaveFormatEx& f, int32_t buffer_size) {
    c.SetPWaveFormat(&f);
    c.SetBufferSize(buffer_size);
    c.Opened();
    c.Started();
    loop.ProcessPending();
  }

  // c refreshes level only when triggered, by the clock now.
  static void DriveByHand(TMMConnector& c, const int64_t& now, FakeDisplay& level) {
    c.SetMicroClock([&now] { return now; });
    c.SetAutoTrigger(false);
    c.SetLevel1(&level);
  }
};

TEST_F(ConnectorTest, SpeedIsClampedAndTheHighestSpeedFollowsTheList) {
  TMMConnector a, b;
  a.SetSpeed(0);
  EXPECT_EQ(a.Speed(), 1);
  b.SetSpeed(9000);
  EXPECT_EQ(b.Speed(), 5000);
  EXPECT_EQ(connector_pump::HighestSpeed(), 5000);
  b.SetSpeed(300);
  EXPECT_EQ(connector_pump::HighestSpeed(), 300);
  EXPECT_EQ(connector_pump::Count(), 2);
}

TEST_F(ConnectorTest, BlocksOfABufferAreDueAtTheirRealTime) {
  TMMConnector c;
  int64_t now = 1000000;
  FakeDisplay level;
  DriveByHand(c, now, level);
  Start(c, WaveFormatEx::Pcm(8000, 16, 1), 16000);
  ASSERT_TRUE(c.Armed());

  std::vector<char> data = NumberedBuffer(16000, 100, 0);
  c.TapBuffer(data.data(), static_cast<int64_t>(data.size()));
  auto trigger_many = [&] {
    for (int i = 0; i < 300; ++i) c.Trigger();
  };
  now += 499999;
  trigger_many();
  ASSERT_EQ(level.blocks.size(), 80u);  // offsets 0..7900
  now += 1;
  trigger_many();
  ASSERT_EQ(level.blocks.size(), 81u);
  EXPECT_EQ(level.blocks.back(), 80);  // offset 8000
  now += 10000000;
  trigger_many();
  ASSERT_EQ(level.blocks.size(), 160u);  // the block at 15900 ends flush with the data
  for (int i = 0; i < 160; ++i) ASSERT_EQ(level.blocks[i], i);
}

TEST_F(ConnectorTest, ADisplayReceivesEveryBlockOfARecordingChainInOrder) {
  Node source, sink;
  TMMConnector c;
  source.SetOutput(&c);
  c.SetOutput(&sink);
  FakeDisplay level, meter(200);
  c.SetLevel1(&level);
  c.SetMeter2(&meter);
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  source.SetPWaveFormat(&f);
  for (TMMDSPComponent* n : {static_cast<TMMDSPComponent*>(&source), static_cast<TMMDSPComponent*>(&c),
                             static_cast<TMMDSPComponent*>(&sink)}) {
    n->SetBufferSize(800);
    n->Opened();
    n->Started();
  }
  loop.ProcessPending();
  ASSERT_TRUE(connector_pump::Pumping());
  ASSERT_EQ(level.formats.size(), 2u);  // once when linked, once at the start
  EXPECT_EQ(level.formats.back(), f);

  constexpr int kBuffers = 5;
  for (int b = 0; b < kBuffers; ++b) {
    std::vector<char> data = NumberedBuffer(800, 100, b * 8);
    std::thread pusher([&] {
      WAVEHDR h = Header(data);
      source.BufferReady(&h);
    });
    pusher.join();
    ASSERT_TRUE(loop.PumpUntil([&] { return level.BlockCount() == (b + 1) * 8u; }, 5s)) << b;
  }
  EXPECT_EQ(sink.received.load(), kBuffers);
  for (int i = 0; i < kBuffers * 8; ++i) ASSERT_EQ(level.blocks[i], i);
  ASSERT_TRUE(loop.PumpUntil([&] { return meter.BlockCount() == kBuffers * 4u; }, 5s));
  for (int i = 0; i < kBuffers * 4; ++i) ASSERT_EQ(meter.blocks[i], 2 * i);

  c.Stopped();
  EXPECT_FALSE(connector_pump::Pumping());
  EXPECT_EQ(level.resets.load(), 1);
  EXPECT_EQ(meter.resets.load(), 1);
}

TEST_F(ConnectorTest, ThePumpSleepsWhileNothingIsDueAndHandsOverEveryBlockNoSoonerThanDue) {
  TMMConnector c;
  FakeDisplay level;
  c.SetLevel1(&level);
  constexpr int kBlocks = 40;  // a quarter second of 8000 Hz 16-bit mono in 100-byte blocks
  Start(c, WaveFormatEx::Pcm(8000, 16, 1), kBlocks * 100);
  ASSERT_TRUE(connector_pump::Pumping());
  auto idle_for = [&](std::chrono::milliseconds span) {
    const uint64_t before = connector_pump::Wakes();
    loop.PumpUntil([] { return false; }, span);
    return connector_pump::Wakes() - before;
  };
  EXPECT_EQ(idle_for(100ms), 0u);

  const auto started = std::chrono::steady_clock::now();
  std::vector<int64_t> arrivals;
  for (int b = 0; b < 2; ++b) {
    std::vector<char> data = NumberedBuffer(kBlocks * 100, 100, b * kBlocks);
    arrivals.push_back(GetMicroTime());
    std::thread([&] { c.TapBuffer(data.data(), static_cast<int64_t>(data.size())); }).join();
    ASSERT_TRUE(loop.PumpUntil([&] { return level.BlockCount() == (b + 1u) * kBlocks; }, 5s)) << b;
  }
  const auto elapsed = std::chrono::steady_clock::now() - started;
  for (int i = 0; i < 2 * kBlocks; ++i) {
    ASSERT_EQ(level.blocks[i], i);
    // 100 bytes are 6250 microseconds of audio.
    ASSERT_GE(level.times[i] - arrivals[i / kBlocks], (i % kBlocks) * 6250) << i;
  }
  // Wakes come at most once per screen refresh, not once per block.
  EXPECT_LE(connector_pump::Wakes(), static_cast<uint64_t>(elapsed / 25ms) + 2);
  // The wake that ends the buffer comes when its next block would be due; then none.
  loop.PumpUntil([] { return false; }, 300ms);
  EXPECT_EQ(idle_for(100ms), 0u);
  c.Stopped();
}

TEST_F(ConnectorTest, TheInternalTimerDrivesRefreshesInTimerMode) {
  TMMConnector c;
  c.SetTriggerMethod(TMMTriggerMethod::tmTimer);
  c.SetSynchronize(false);
  FakeDisplay level;
  c.SetLevel1(&level);
  Start(c, WaveFormatEx::Pcm(8000, 16, 1), 1000);
  EXPECT_FALSE(connector_pump::Pumping());
  std::vector<char> data = NumberedBuffer(1000, 100, 0);
  c.TapBuffer(data.data(), 1000);
  ASSERT_TRUE(loop.PumpUntil([&] { return level.BlockCount() == 10u; }, 5s));
  for (int i = 0; i < 10; ++i) ASSERT_EQ(level.blocks[i], i);
  c.Stopped();
}

TEST_F(ConnectorTest, APausedChainKeepsFeedingSilenceUntilRestarted) {
  TMMConnector c;
  FakeDisplay level;
  c.SetLevel1(&level);
  Start(c, WaveFormatEx::Pcm(8000, 8, 1), 400);  // 50 ms of audio
  std::vector<char> data(400, 0x11);
  c.TapBuffer(data.data(), 400);
  c.Paused();
  // Each pause tick hands the displays the silent buffer again.
  ASSERT_TRUE(loop.PumpUntil([&] { return level.BlockCount() >= 12u; }, 5s));
  for (uint8_t b : level.first_bytes) ASSERT_EQ(b, 128);
  c.Restarted();
  c.Stopped();
}

TEST_F(ConnectorTest, StoppingWhileAnotherThreadTapsNeverTouchesAFreedBuffer) {
  TMMConnector c;
  c.SetRealTime(false);  // every tap refreshes on the pushing thread
  FakeDisplay level;
  c.SetLevel1(&level);
  const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);
  std::atomic<bool> done{false};
  std::vector<char> data = NumberedBuffer(4096, 100, 0);
  c.SetPWaveFormat(&f);
  c.SetBufferSize(4096);
  c.Opened();
  std::thread pusher([&] {
    while (!done) c.TapBuffer(data.data(), static_cast<int64_t>(data.size()));
  });
  for (int i = 0; i < 300; ++i) {
    c.Started();
    c.Stopped();
  }
  done = true;
  pusher.join();
  EXPECT_GE(level.resets.load(), 300);
}

TEST_F(ConnectorTest, DestroyingAConnectorDropsOnlyItsOwnQueuedCalls) {
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 8, 1);
  TMMConnector kept;
  auto gone = std::make_unique<TMMConnector>();
  for (TMMConnector* c : {&kept, gone.get()}) {
    c->SetPWaveFormat(&f);
    c->Opened();
    c->Started();  // queues its start call
  }
  gone.reset();
  loop.ProcessPending();
  EXPECT_TRUE(kept.Armed());
  EXPECT_EQ(connector_pump::ArmedCount(), 1);
  EXPECT_EQ(connector_pump::Count(), 1);
  kept.Stopped();
  EXPECT_EQ(connector_pump::ArmedCount(), 0);
}

TEST_F(ConnectorTest, LinkRulesAndRemovedDisplays) {
  TMMConnector c;
  FakeDisplay a, b;
  c.SetLevel1(&a);
  c.SetLevel2(&a);
  EXPECT_EQ(c.Level2(), nullptr);
  c.SetSpectrum(1, &b);
  c.SetSpectrum(2, &b);
  EXPECT_EQ(c.Spectrum(2), &b);
  {
    FakeDisplay temporary;
    c.SetMeter1(&temporary);
    EXPECT_EQ(c.Meter1(), &temporary);
  }
  EXPECT_EQ(c.Meter1(), nullptr);

  Start(c, WaveFormatEx::Pcm(22050, 16, 2), 2048);
  FakeDisplay late;
  c.SetLight2(&late);
  ASSERT_EQ(late.formats.size(), 1u);  // linked while running: the format at once
  EXPECT_EQ(late.formats[0].nChannels(), 2);
  c.Stopped();
}

TEST_F(ConnectorTest, APausedStreamFeedsSilenceOfItsSampleWidth) {
  for (const uint16_t bits : {8, 16}) {
    TMMConnector c;
    c.SetRealTime(false);
    c.SetAutoTrigger(false);
    FakeDisplay level;
    c.SetLevel1(&level);
    Start(c, WaveFormatEx::Pcm(8000, bits, 1), 1000);
    std::vector<char> data(1000, 0x55);
    c.TapBuffer(data.data(), 1000);
    c.Paused();
    c.Trigger();
    ASSERT_EQ(level.first_bytes.size(), 1u);
    EXPECT_EQ(level.first_bytes[0], bits == 8 ? 128 : 0) << bits;
    c.Stopped();
  }
}

TEST_F(ConnectorTest, ACodecChainWithoutAutoConvertPassesBuffersButFeedsNothing) {
  Node source, sink;
  TMMConnector c;
  c.SetAutoConvert(false);
  source.SetOutput(&c);
  c.SetOutput(&sink);
  FakeDisplay level;
  c.SetLevel1(&level);
  WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  f.set_wFormatTag(WAVE_FORMAT_GSM610);
  source.SetPWaveFormat(&f);
  c.Opened();
  c.Started();
  loop.ProcessPending();
  std::vector<char> data(256, 1);
  WAVEHDR h = Header(data);
  source.BufferReady(&h);
  EXPECT_EQ(sink.received.load(), 1);
  EXPECT_FALSE(c.Armed());
  EXPECT_TRUE(level.formats.empty());
  EXPECT_TRUE(level.blocks.empty());
}

TEST_F(ConnectorTest, ACodecChainIsFedItsDecodedAudioWithAutoConvert) {
  LoadACM();
  const WaveFormatEx pcm = WaveFormatEx::Pcm(8000, 16, 1);
  WaveFormatEx ima;
  ima.set_wFormatTag(WAVE_FORMAT_IMA_ADPCM);
  ASSERT_EQ(acmFormatSuggest(nullptr, pcm, ima, 1024, ACM_FORMATSUGGESTF_WFORMATTAG),
            MMSYSERR_NOERROR);
  std::vector<uint8_t> encoded = test::Convert(pcm, ima, test::TonePcm16(pcm, 0.2));
  encoded.resize(2 * ima.nBlockAlign());
  const std::vector<uint8_t> decoded = test::Convert(ima, pcm, encoded);

  TMMConnector c;
  int64_t now = 0;
  FakeDisplay level;
  DriveByHand(c, now, level);
  Start(c, ima, static_cast<int32_t>(encoded.size()));
  ASSERT_FALSE(level.formats.empty());
  EXPECT_EQ(level.formats.back(), pcm);
  c.TapBuffer(encoded.data(), static_cast<int64_t>(encoded.size()));
  now += 10'000'000;
  for (int i = 0; i < 100; ++i) c.Trigger();

  // Every whole 100-byte block of the decoded buffer, each where the decoder put it.
  ASSERT_EQ(level.blocks.size(), decoded.size() / 100);
  for (std::size_t i = 0; i < level.blocks.size(); ++i) {
    int16_t expected = 0;
    std::memcpy(&expected, decoded.data() + 100 * i, 2);
    ASSERT_EQ(level.blocks[i], expected) << i;
  }
  c.Stopped();
}

TEST_F(ConnectorTest, BehindAPlayingDeviceTheSoundingBufferIsTapped) {
  for (bool synchronize : {true, false}) {
    TMMConnector c;
    int64_t now = 0;
    c.SetSynchronize(synchronize);
    FakeDisplay level;
    DriveByHand(c, now, level);
    Start(c, WaveFormatEx::Pcm(8000, 16, 1), 800);
    std::vector<char> queued = NumberedBuffer(800, 100, 0);
    std::vector<char> sounding = NumberedBuffer(800, 100, 50);
    WAVEHDR playing = Header(sounding);
    WAVEHDR h = Header(queued);
    h.LinkedHeader = &playing;
    c.BufferReady(&h);
    now += 10'000'000;
    for (int i = 0; i < 20; ++i) c.Trigger();
    ASSERT_EQ(level.blocks.size(), 8u);
    EXPECT_EQ(level.blocks.front(), synchronize ? 50 : 0);
    c.Stopped();
  }
}

}  // namespace
}  // namespace pmx
