// Throughput of the recording ring: a producer pushes capture-sized buffers into a
// qmWrite ring and its queue thread hands them on in 64 KiB chunks to a sink that
// only counts. Bytes per second is the ring's own cost per byte recorded.
#include <atomic>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "audio/core/chain/ring_buffer.h"

namespace {

class CountingSink : public pmx::TMMDSPComponent {
 public:
  CountingSink() { PublishLinks(true, false); }
  void BufferReady(pmx::WAVEHDR* h) override { received += h->dwBytesRecorded; }
  std::atomic<int64_t> received{0};
};

// Argument: the capture buffer size.
void BM_RingWriteFlush(benchmark::State& state) {
  const auto size = static_cast<int32_t>(state.range(0));
  const int64_t per_round = int64_t{256} << 20;
  pmx::TMMRingBuffer ring;
  CountingSink sink;
  ring.SetOutput(&sink);
  ring.SetQueueMode(pmx::TMMQueueMode::qmWrite);
  ring.SetWaitIfFull(true);
  ring.SetBufferSize(size);
  ring.Opened();
  ring.Started();
  std::vector<char> buffer(size, 0x55);
  pmx::WAVEHDR header;
  header.lpData = buffer.data();
  header.dwBytesRecorded = static_cast<uint32_t>(size);
  for (auto _ : state) {
    for (int64_t sent = 0; sent < per_round; sent += size) ring.BufferReady(&header);
  }
  ring.Stopped();
  ring.Closed();
  state.SetBytesProcessed(sink.received.load());
}
BENCHMARK(BM_RingWriteFlush)->Arg(4096)->Arg(16000)->Arg(65536)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
