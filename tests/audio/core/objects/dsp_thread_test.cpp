#include "audio/core/objects/dsp_thread.h"

#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/core/dsp/dsp_component.h"
#include "platform/main_loop.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

class Node : public TMMDSPComponent {
 public:
  Node() { PublishLinks(true, true); }
};

// Captures numbered buffers of 16-bit samples and pushes each into its component.
class CaptureThread : public TMMDSPThread {
 public:
  CaptureThread(TMMDSPComponent* component, int buffers) : TMMDSPThread("test-capture", component), count_(buffers) {}
  ~CaptureThread() override { WaitFor(); }

 protected:
  void ExecuteDSP() override {
    std::vector<int16_t> samples(64);
    WAVEHDR hdr;
    hdr.lpData = reinterpret_cast<char*>(samples.data());
    hdr.dwBufferLength = static_cast<uint32_t>(samples.size() * sizeof(int16_t));
    for (int b = 0; b < count_; ++b) {
      for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(b * 64 + i);
      hdr.dwBytesRecorded = hdr.dwBufferLength;
      Component()->BufferReady(&hdr);
    }
  }

 private:
  int count_;
};

// Collects the samples pushed into it; announces its first buffer on the GUI thread.
class Sink : public Node {
 public:
  void BufferReady(WAVEHDR* hdr) override {
    const auto* s = reinterpret_cast<const int16_t*>(hdr->lpData);
    if (samples.empty()) {
      SynchronizeDSPCall([this] { announced_on = std::this_thread::get_id(); });
    }
    samples.insert(samples.end(), s, s + hdr->dwBytesRecorded / 2);
    Node::BufferReady(hdr);
  }
  std::vector<int16_t> samples;  // capture thread, read after join
  std::thread::id announced_on;  // GUI thread
};

TEST(DSPThread, PushesCapturedBuffersDownTheChainAndReachesTheGuiThread) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  Node head;
  Sink sink;
  head.SetOutput(&sink);
  CaptureThread capture(&head, 40);
  EXPECT_EQ(capture.Component(), &head);
  ASSERT_TRUE(capture.Start());
  ASSERT_TRUE(loop.PumpUntil([&] { return capture.Finished(); }, 10s));
  capture.WaitFor();
  EXPECT_EQ(sink.announced_on, std::this_thread::get_id());
  ASSERT_EQ(sink.samples.size(), 40u * 64);
  for (std::size_t i = 0; i < sink.samples.size(); ++i) ASSERT_EQ(sink.samples[i], int16_t(i));
}

// Runs one SynchronizeDSPCall on its thread.
class OneCall : public TMMDSPThread {
 public:
  OneCall() : TMMDSPThread("test-one-call", nullptr) {}
  ~OneCall() override { WaitFor(); }
  std::atomic<bool> ran{false};

 protected:
  void ExecuteDSP() override {
    SynchronizeDSPCall([this] { ran = true; });
  }
};

TEST(DSPThread, OtherCallersRunTheMethodAtOnceOnTheirOwnThread) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  std::thread::id ran_on;
  SynchronizeDSPCall([&] { ran_on = std::this_thread::get_id(); });
  EXPECT_EQ(ran_on, std::this_thread::get_id());
  EXPECT_EQ(TMMDSPThread::Current(), nullptr);

  // A worker that is no DSP thread must not wait for the GUI thread (nothing pumps here).
  std::thread::id worker_id;
  std::thread worker([&] {
    worker_id = std::this_thread::get_id();
    SynchronizeDSPCall([&] { ran_on = std::this_thread::get_id(); });
  });
  worker.join();
  EXPECT_EQ(ran_on, worker_id);
}

TEST(DSPThread, AClosingLoopReleasesTheDSPThreadWithoutRunningTheMethod) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  loop.SetClosing(true);
  OneCall t;
  ASSERT_TRUE(t.Start());
  t.WaitFor();
  EXPECT_FALSE(t.ran);
}

}  // namespace
}  // namespace pmx
