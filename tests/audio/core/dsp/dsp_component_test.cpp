#include "audio/core/dsp/dsp_component.h"

#include <cstring>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "audio/core/dsp/wave_format.h"

namespace pmx {
namespace {

// A plain node that can be linked on both sides.
class Node : public TMMDSPComponent {
 public:
  Node() { PublishLinks(true, true); }
  using TMMDSPComponent::PublishLinks;
  using TMMDSPComponent::SetAcceptsInput;
};

// Links a -> b -> c ...
void Chain(std::initializer_list<TMMDSPComponent*> nodes) {
  TMMDSPComponent* previous = nullptr;
  for (TMMDSPComponent* node : nodes) {
    if (previous) previous->SetOutput(node);
    previous = node;
  }
}

TEST(DSPLinks, SettingEitherEndLinksBothAndRelinkingDropsTheStaleBackLink) {
  Node a, b, c;
  const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);
  a.SetPWaveFormat(&f);
  a.SetOutput(&b);
  EXPECT_EQ(b.Input(), &a);
  ASSERT_NE(b.PWaveFormat(), nullptr);

  c.SetInput(&a);
  EXPECT_EQ(a.Output(), &c);
  EXPECT_EQ(c.Input(), &a);
  EXPECT_EQ(b.Input(), nullptr);
  // Only a direct unlink clears a node's own copy.
  ASSERT_NE(b.PWaveFormat(), nullptr);
  EXPECT_EQ(*b.PWaveFormat(), f);

  // The reverse direction: b takes c away from a.
  b.SetOutput(&c);
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(c.Input(), &b);
}

TEST(DSPLinks, LoopsSelfLinksAndUnpublishedEndsAreRefusedSilently) {
  Node a, b, c;
  a.SetOutput(&a);
  a.SetInput(&a);
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(a.Input(), nullptr);

  Chain({&a, &b, &c});
  a.SetInput(&c);
  c.SetOutput(&a);
  b.SetInput(&c);
  EXPECT_EQ(a.Input(), nullptr);
  EXPECT_EQ(c.Output(), nullptr);
  EXPECT_EQ(a.Output(), &b);
  EXPECT_EQ(b.Input(), &a);
  EXPECT_EQ(b.Output(), &c);

  // A sink without an Input of its own is linked only when it accepts one.
  Node sink;
  sink.PublishLinks(false, true);
  c.SetOutput(&sink);
  EXPECT_EQ(c.Output(), nullptr);
  sink.SetAcceptsInput(true);
  c.SetOutput(&sink);
  EXPECT_EQ(sink.Input(), &c);
  // A source without an Output cannot feed anything.
  Node source;
  source.PublishLinks(true, false);
  Node d;
  d.SetInput(&source);
  EXPECT_EQ(d.Input(), nullptr);
}

TEST(DSPLinks, DestroyingANodeCutsBothOfItsLinks) {
  Node a, c;
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 8, 1);
  auto b = std::make_unique<Node>();
  Chain({&a, b.get(), &c});
  a.SetPWaveFormat(&f);
  ASSERT_NE(c.PWaveFormat(), nullptr);
  b.reset();
  EXPECT_EQ(a.Output(), nullptr);
  EXPECT_EQ(c.Input(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);

  // A sink that accepts an Input without publishing one is cut from its feeder too.
  auto sink = std::make_unique<Node>();
  sink->PublishLinks(false, true);
  sink->SetAcceptsInput(true);
  a.SetOutput(sink.get());
  ASSERT_EQ(a.Output(), sink.get());
  sink.reset();
  EXPECT_EQ(a.Output(), nullptr);
}

TEST(DSPFormat, FlowsDownstreamAsSeparateCopiesAndStopsWhereTheLinkIsCut) {
  Node a, b, c;
  Chain({&a, &b, &c});
  const WaveFormatEx f = WaveFormatEx::Pcm(48000, 16, 2);
  a.SetPWaveFormat(&f);
  ASSERT_NE(b.PWaveFormat(), nullptr);
  ASSERT_NE(c.PWaveFormat(), nullptr);
  EXPECT_EQ(*c.PWaveFormat(), f);
  EXPECT_NE(b.PWaveFormat(), a.PWaveFormat());
  EXPECT_NE(c.PWaveFormat(), b.PWaveFormat());

  a.SetOutput(nullptr);
  EXPECT_EQ(b.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat(), nullptr);

  // Linking an unformatted chain below a formatted head hands the format down.
  b.SetInput(&a);
  ASSERT_NE(c.PWaveFormat(), nullptr);
  EXPECT_EQ(c.PWaveFormat()->nSamplesPerSec(), 48000u);
}

TEST(DSPFormat, AMalformedRecordLeavesTheNodeAsItWas) {
  Node a;
  const WaveFormatEx f = WaveFormatEx::Pcm(22050, 16, 1);
  a.SetPWaveFormat(&f);
  WaveFormatEx bad = f;
  bad.set_wFormatTag(WAVE_FORMAT_ADPCM);
  bad.set_cbSize(32);  // no extra bytes behind it
  EXPECT_THROW(a.SetPWaveFormat(&bad), EMMWaveFormatError);
  ASSERT_NE(a.PWaveFormat(), nullptr);
  EXPECT_EQ(*a.PWaveFormat(), f);
}

TEST(DSPState, EffectiveBufferSizeIsWholeBlocksWhileOpened) {
  Node a;
  const WaveFormatEx f = WaveFormatEx::Pcm(44100, 16, 2);  // 4-byte blocks
  a.SetPWaveFormat(&f);
  a.SetBufferSize(16002);
  EXPECT_EQ(a.BufferSize(), 16002);
  a.Opened();
  EXPECT_EQ(a.BufferSize(), 16000);
  a.Closed();
  EXPECT_EQ(a.BufferSize(), 16002);
  a.SetBufferSize(3);
  a.Opened();
  EXPECT_EQ(a.BufferSize(), 4);
  a.Closed();

  WaveFormatEx no_align = f;
  no_align.set_nBlockAlign(0);
  a.SetPWaveFormat(&no_align);
  EXPECT_THROW(a.Opened(), EMMWaveFormatError);
  EXPECT_FALSE(a.IsOpened());
}

TEST(DSPState, ChangesWhileStartedStopTheNodeFirst) {
  Node a, b;
  a.Opened();
  a.Started();
  a.Paused();
  ASSERT_TRUE(a.IsStarted());
  a.SetBufferSize(4096);
  EXPECT_FALSE(a.IsStarted());
  EXPECT_FALSE(a.IsPaused());

  a.Started();
  const WaveFormatEx f = WaveFormatEx::Pcm(8000, 16, 1);
  a.SetPWaveFormat(&f);
  EXPECT_FALSE(a.IsStarted());

  a.Started();
  a.SetOutput(&b);
  EXPECT_FALSE(a.IsStarted());
  EXPECT_TRUE(a.IsOpened());

  // Started counts only while opened.
  b.Started();
  EXPECT_FALSE(b.IsStarted());
}

// Plays a ramp of 16-bit samples, then reports that it is exhausted.
class RampSource : public TMMDSPComponent {
 public:
  explicit RampSource(int16_t samples) : total_(samples) { PublishLinks(false, true); }
  void BufferLoad(WAVEHDR* hdr, bool& MoreBuffers) override {
    auto* out = reinterpret_cast<int16_t*>(hdr->lpData);
    const uint32_t room = hdr->dwBufferLength / sizeof(int16_t);
    uint32_t n = 0;
    for (; n < room && next_ < total_; ++n) out[n] = next_++;
    hdr->dwBytesRecorded = n * sizeof(int16_t);
    if (next_ == total_) MoreBuffers = false;
  }

 private:
  int16_t total_;
  int16_t next_ = 0;
};

// Scales what it is handed on the way through, pushed or pulled.
class Gain : public Node {
 public:
  explicit Gain(int16_t factor) : factor_(factor) {}
  void BufferReady(WAVEHDR* hdr) override {
    Scale(hdr);
    Node::BufferReady(hdr);
  }
  void BufferLoad(WAVEHDR* hdr, bool& MoreBuffers) override {
    Node::BufferLoad(hdr, MoreBuffers);
    Scale(hdr);
  }

 private:
  void Scale(WAVEHDR* hdr) const {
    auto* samples = reinterpret_cast<int16_t*>(hdr->lpData);
    for (uint32_t i = 0; i < hdr->dwBytesRecorded / sizeof(int16_t); ++i) samples[i] *= factor_;
  }
  int16_t factor_;
};

TEST(DSPBuffers, APullChainFillsEachBufferFromTheSourceUntilItIsExhausted) {
  RampSource source(1000);
  Gain gain(3);
  Node sink;
  Chain({&source, &gain, &sink});
  int loads_seen = 0;
  gain.OnBufferLoad = [&](TObject* sender, WAVEHDR*, bool&) {
    EXPECT_EQ(sender, &gain);
    ++loads_seen;
  };

  std::vector<int16_t> buffer(256);
  WAVEHDR hdr;
  hdr.lpData = reinterpret_cast<char*>(buffer.data());
  hdr.dwBufferLength = static_cast<uint32_t>(buffer.size() * sizeof(int16_t));
  std::vector<int16_t> played;
  bool more = true;
  while (more) {
    hdr.dwBytesRecorded = 0;
    sink.BufferLoad(&hdr, more);
    played.insert(played.end(), buffer.begin(), buffer.begin() + hdr.dwBytesRecorded / 2);
  }
  EXPECT_EQ(loads_seen, 4);
  ASSERT_EQ(played.size(), 1000u);
  for (int16_t i = 0; i < 1000; ++i) ASSERT_EQ(played[i], 3 * i) << i;
}

TEST(DSPBuffers, APushChainHandsEachBufferDownAfterItsEvent) {
  Node head, tail;
  Gain gain(-1);
  Chain({&head, &gain, &tail});
  std::vector<int16_t> seen_by_head, seen_by_tail;
  auto collect = [](std::vector<int16_t>& into) {
    return [&into](TObject*, WAVEHDR* hdr) {
      const auto* s = reinterpret_cast<const int16_t*>(hdr->lpData);
      into.insert(into.end(), s, s + hdr->dwBytesRecorded / 2);
    };
  };
  head.OnBufferReady = collect(seen_by_head);
  tail.OnBufferReady = collect(seen_by_tail);

  std::vector<int16_t> buffer = {1, -2, 300, 0x7FFF};
  WAVEHDR hdr;
  hdr.lpData = reinterpret_cast<char*>(buffer.data());
  hdr.dwBufferLength = hdr.dwBytesRecorded = 8;
  head.BufferReady(&hdr);
  EXPECT_EQ(seen_by_head, (std::vector<int16_t>{1, -2, 300, 0x7FFF}));
  EXPECT_EQ(seen_by_tail, (std::vector<int16_t>{-1, 2, -300, -0x7FFF}));
}

}  // namespace
}  // namespace pmx
