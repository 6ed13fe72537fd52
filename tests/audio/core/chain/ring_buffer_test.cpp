#include "audio/core/chain/ring_buffer.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/main_loop.h"

namespace pmx {
namespace {

using namespace std::chrono_literals;

// Byte i of the test stream; 251 is prime, so no buffer size lines up with it.
char Ramp(int64_t i) { return static_cast<char>(i % 251); }

void FillRamp(std::vector<char>& buf, int64_t from) {
  for (size_t k = 0; k < buf.size(); ++k) buf[k] = Ramp(from + static_cast<int64_t>(k));
}

// The end of a chain: checks that the bytes pushed into it continue the ramp and
// records the chunk sizes. BufferReady runs on the ring's queue thread.
class RampSink : public TMMDSPComponent {
 public:
  RampSink() { PublishLinks(true, false); }

  void BufferReady(WAVEHDR* h) override {
    if (fail) throw EMMBufferError("disk gone");
    std::lock_guard lock(mutex);
    for (uint32_t k = 0; k < h->dwBytesRecorded; ++k) {
      if (h->lpData[k] != Ramp(received + k)) ++wrong;
    }
    received += h->dwBytesRecorded;
    chunks.push_back(h->dwBytesRecorded);
    lengths.push_back(h->dwBufferLength);
    changed.notify_all();
  }

  bool WaitFor(int64_t bytes) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 30s, [&] { return received >= bytes; });
  }

  std::atomic<bool> fail{false};
  std::mutex mutex;
  std::condition_variable changed;
  int64_t received = 0;
  int64_t wrong = 0;
  std::vector<uint32_t> chunks, lengths;
};

// Feeds the ramp to a pulling ring, total bytes in all. A source with a late end
// (a file reader, say) only finds out when asked once more and delivers nothing.
class RampSource : public TMMDSPComponent {
 public:
  RampSource(int64_t total, bool late_end) : total_(total), late_end_(late_end) {
    PublishLinks(false, true);
  }

  void BufferLoad(WAVEHDR* h, bool& more) override {
    const int64_t n = std::min<int64_t>(h->dwBufferLength, total_ - sent_);
    for (int64_t k = 0; k < n; ++k) h->lpData[k] = Ramp(sent_ + k);
    sent_ += n;
    h->dwBytesRecorded = static_cast<uint32_t>(n);
    more = late_end_ ? n > 0 : sent_ < total_;
  }

 private:
  const int64_t total_;
  const bool late_end_;
  int64_t sent_ = 0;
};

void ReadRampThroughRing(int64_t total, bool late_end);

int32_t Write(TMMRingBuffer& ring, int32_t length, int64_t from) {
  std::vector<char> buf(length);
  FillRamp(buf, from);
  return ring.WriteBuffer(buf.data(), length, 0, 0);
}

TEST(RingBuffer, PropertiesAreClampedAndLockedWhileOpen) {
  TMMRingBuffer ring;
  ring.SetNumBuffers(1);
  EXPECT_EQ(ring.NumBuffers(), 20);
  ring.SetBufferSize(10);
  EXPECT_EQ(ring.BufferSize(), 32);
  ring.SetBufferSize(8192);
  ring.Opened();
  try {
    ring.SetNumBuffers(8);
    FAIL();
  } catch (const EMMBufferError& e) {
    EXPECT_STREQ(e.what(), "Change to property while device was open");
  }
  EXPECT_THROW(ring.SetQueueMode(TMMQueueMode::qmWrite), EMMBufferError);
  EXPECT_THROW(ring.SetBufferSize(4096), EMMBufferError);
  ring.SetNumBuffers(20);  // unchanged values pass
  ring.SetBufferSize(8192);
  ring.Closed();
  ring.SetNumBuffers(8);
  EXPECT_EQ(ring.NumBuffers(), 8);
}

TEST(RingBuffer, FillChunksAreWholeSlotsUpTo64KiB) {
  for (auto [size, chunk] : {std::pair{16000, 64000}, {8192, 65536}, {100000, 100000}}) {
    TMMRingBuffer ring;
    ring.SetBufferSize(size);
    ring.Opened();
    EXPECT_EQ(ring.FillChunk(), chunk) << size;
    ring.Closed();
  }
}

// The tenth of twenty slots wakes the queue thread, which then empties the ring
// in one push: however slow each write of the disk, the slots that wait go out
// together. The push lies in the ring's own memory, so its header offers no room
// beyond its bytes: what follows belongs to other slots.
TEST(RingBuffer, TenthWriteStartsAFlushOfAllWaitingSlotsInOnePush) {
  TMMRingBuffer ring;
  RampSink sink;
  ring.SetOutput(&sink);
  ring.SetQueueMode(TMMQueueMode::qmWrite);
  ring.SetBufferSize(16000);
  ring.Opened();
  for (int i = 0; i < 9; ++i) ASSERT_EQ(Write(ring, 16000, i * 16000), 16000);
  EXPECT_FALSE(ring.IsBusy());
  EXPECT_EQ(ring.BufferCount(), 9);
  ASSERT_EQ(Write(ring, 16000, 9 * 16000), 16000);
  ASSERT_TRUE(sink.WaitFor(160000));
  std::lock_guard lock(sink.mutex);
  EXPECT_EQ(sink.chunks, (std::vector<uint32_t>{160000}));
  EXPECT_EQ(sink.lengths, sink.chunks);
  EXPECT_EQ(sink.wrong, 0);
}

TEST(RingBuffer, OverflowDropsTheBufferAndChangesNothing) {
  TMMRingBuffer ring;
  int overflows = 0;
  ring.OnOverlow = [&](TObject*) { ++overflows; };
  ring.SetBufferSize(64);
  ring.Opened();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Write(ring, 64, i * 64), 64);
  EXPECT_TRUE(ring.IsFull());
  EXPECT_EQ(Write(ring, 64, 999), 0);
  EXPECT_EQ(overflows, 1);
  EXPECT_EQ(ring.BufferCount(), 20);
  EXPECT_EQ(ring.BytesInBuffer(), 20 * 64);
  std::vector<char> all(20 * 64), expected(20 * 64);
  EXPECT_EQ(ring.ReadData(all.data(), 20 * 64), 20 * 64);
  FillRamp(expected, 0);
  EXPECT_EQ(all, expected);
  ring.Closed();
}

TEST(RingBuffer, PartialReadsKeepTheRestOfTheSlot) {
  TMMRingBuffer ring;
  ring.SetBufferSize(300);
  ring.Opened();
  EXPECT_EQ(Write(ring, 1000, 0), 300);  // longer than a slot: cut
  std::vector<char> out(100);
  int32_t length = 100;
  uint32_t flags;
  uintptr_t user;
  ring.ReadBuffer(out.data(), length, flags, user);
  EXPECT_EQ(length, 100);
  EXPECT_EQ(ring.BufferCount(), 1);
  EXPECT_EQ(ring.BytesInBuffer(), 200);
  std::vector<char> rest(500);
  length = 500;
  ring.ReadBuffer(rest.data(), length, flags, user);
  ASSERT_EQ(length, 200);
  rest.resize(200);
  std::vector<char> expected(200);
  FillRamp(expected, 100);
  EXPECT_EQ(rest, expected);
  EXPECT_TRUE(ring.IsEmpty());
  ring.Closed();
}

TEST(RingBuffer, EmptyReadsGiveSilenceOfTheFormatOrTheLastSlot) {
  for (uint16_t bits : {8, 16}) {
    TMMRingBuffer ring;
    int empties = 0;
    ring.OnEmpty = [&](TObject*) { ++empties; };
    const WaveFormatEx format = WaveFormatEx::Pcm(8000, bits, 1);
    ring.SetPWaveFormat(&format);
    ring.SetBufferSize(64);
    ring.Opened();
    std::vector<char> out(50, 7);
    int32_t length = 50;
    uint32_t flags = 9;
    uintptr_t user = 9;
    ring.ReadBuffer(out.data(), length, flags, user);
    EXPECT_EQ(length, 50);
    EXPECT_EQ(out, std::vector<char>(50, bits == 8 ? static_cast<char>(128) : 0));
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(empties, 1);
    // Looping repeats the slot read last.
    ring.SetLoopIfEmpty(true);
    ASSERT_EQ(ring.WriteBuffer("abcd", 4, 42, 0), 4);
    length = 50;
    ring.ReadBuffer(out.data(), length, flags, user);
    length = 50;
    ring.ReadBuffer(out.data(), length, flags, user);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(std::string(out.data(), 4), "abcd");
    EXPECT_EQ(user, 42u);
    ring.Closed();
  }
}

// A duplex ring gives silence until more than half of it is filled, then the data
// in the order written.
TEST(RingBuffer, DuplexPrimesWithSilence) {
  TMMRingBuffer ring;
  ring.SetQueueMode(TMMQueueMode::qmDuplex);
  ring.SetNumBuffers(4);
  ring.SetBufferSize(64);
  ring.Opened();
  std::vector<char> out(64);
  auto read = [&] {
    WAVEHDR h;
    h.lpData = out.data();
    h.dwBufferLength = 64;
    bool more = false;
    ring.BufferLoad(&h, more);
    EXPECT_TRUE(more);
    return std::string(out.data(), h.dwBytesRecorded);
  };
  const std::string zeros(64, '\0');
  for (const char* text : {"first", "second", "third"}) {
    EXPECT_EQ(read(), zeros);
    ASSERT_EQ(ring.WriteBuffer(text, static_cast<int32_t>(std::strlen(text)), 0, 0),
              static_cast<int32_t>(std::strlen(text)));
  }
  EXPECT_EQ(read(), zeros);  // the read that finds three of four slots filled
  EXPECT_EQ(read(), "first");
  EXPECT_EQ(read(), "second");
  ring.Closed();
}

// A failing writer downstream closes the ring from the queue thread; the error
// reaches the application and a writer afterwards touches nothing.
TEST(RingBuffer, QueueThreadFailureClosesTheRing) {
  PlainMainLoop loop;
  ScopedMainLoop scope(loop);
  std::string error;
  loop.SetExceptionHandler([&](std::exception_ptr e) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& ex) {
      error = ex.what();
    }
  });
  TMMRingBuffer ring;
  RampSink sink;
  sink.fail = true;
  ring.SetOutput(&sink);
  ring.SetQueueMode(TMMQueueMode::qmWrite);
  ring.SetBufferSize(1000);
  ring.Opened();
  std::atomic<bool> reported{false};
  std::thread producer([&] {
    for (int i = 0; i < 100000 && !reported; ++i) Write(ring, 1000, 0);
  });
  const bool seen = loop.PumpUntil([&] { return !error.empty(); }, 30s);
  reported = true;
  producer.join();
  ASSERT_TRUE(seen);
  EXPECT_EQ(error, "disk gone");
  EXPECT_EQ(Write(ring, 1000, 0), 0);
  ring.Closed();
}

// The queue thread keeps a qmRead ring filled ahead of a pulling reader; the end
// of the source reaches the reader as the last buffer.
TEST(RingBuffer, ReadModeDeliversTheSourceInOrderUntilItsEnd) {
  for (bool late_end : {false, true}) {
    // Whole slots, so that a late end finds no slot left to carry the mark.
    ReadRampThroughRing(4096 * 250, late_end);
    ReadRampThroughRing(1000000, late_end);
  }
}

void ReadRampThroughRing(int64_t total, bool late_end) {
  SCOPED_TRACE(testing::Message() << total << (late_end ? " late end" : ""));
  TMMRingBuffer ring;
  RampSource source(total, late_end);
  ring.SetInput(&source);
  ring.SetQueueMode(TMMQueueMode::qmRead);
  ring.SetBufferSize(4096);
  ring.Opened();
  ring.Started();
  std::vector<char> buf(3000);
  int64_t got = 0, wrong = 0;
  bool more = true;
  while (more) {
    // An empty ring gives silence (an underrun). A device pulls in real time; this
    // reader is faster, so it waits for a running fill, or fills the ring itself.
    if (got > 0) {
      const auto deadline = std::chrono::steady_clock::now() + 30s;
      while (ring.IsEmpty() && ring.IsBusy() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
      }
      if (ring.IsEmpty()) ring.FillQueue();
    }
    WAVEHDR h;
    h.lpData = buf.data();
    h.dwBufferLength = 3000;
    ring.BufferLoad(&h, more);
    ASSERT_GT(h.dwBytesRecorded, 0u) << got;
    // Past the end only silence comes, carrying the end mark.
    for (uint32_t k = 0; k < h.dwBytesRecorded; ++k, ++got) {
      wrong += buf[k] != (got < total ? Ramp(got) : 0);
    }
    ASSERT_LT(got, total + 100000) << "the end never came";
  }
  EXPECT_GE(got, total);
  EXPECT_EQ(wrong, 0);
  ring.Stopped();
  ring.Closed();
}

int64_t StressBytes() {
  if (const char* env = std::getenv("PMX_RING_STRESS_BYTES")) return std::atoll(env);
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
  return int64_t{64} << 20;  // sanitizers are slow; the race shows at this size too
#else
  return int64_t{1} << 30;
#endif
}

// A capture-like producer and the queue thread move the ramp through the ring;
// the sink sees every byte once, in order, and the tail arrives at close.
TEST(RingBuffer, ProducerAndQueueThreadMoveTheStreamIntact) {
  const int64_t total = StressBytes();
  TMMRingBuffer ring;
  RampSink sink;
  ring.SetOutput(&sink);
  ring.SetQueueMode(TMMQueueMode::qmWrite);
  ring.SetWaitIfFull(true);
  ring.SetBufferSize(16000);
  ring.Opened();
  ring.Started();
  std::thread producer([&] {
    std::vector<char> buf(16000);
    WAVEHDR h;
    h.lpData = buf.data();
    for (int64_t sent = 0; sent < total;) {
      const int64_t n = std::min<int64_t>(16000 - (sent / 16000) % 7, total - sent);
      buf.resize(n);
      FillRamp(buf, sent);
      h.lpData = buf.data();
      h.dwBytesRecorded = static_cast<uint32_t>(n);
      ring.BufferReady(&h);
      sent += n;
    }
  });
  producer.join();
  ring.Stopped();
  ring.Closed();
  std::lock_guard lock(sink.mutex);
  EXPECT_EQ(sink.received, total);
  EXPECT_EQ(sink.wrong, 0);
}

}  // namespace
}  // namespace pmx
