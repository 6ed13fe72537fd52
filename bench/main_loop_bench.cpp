// Cost of one synchronized call from a worker to the GUI thread: every event a
// capture or queue thread hands to the window pays it.
#include <atomic>
#include <thread>

#include <benchmark/benchmark.h>

#include "platform/main_loop.h"

namespace {

void BM_SynchronizeRoundTrip(benchmark::State& state) {
  std::atomic<bool> stop{false};
  std::thread gui;  // the benchmark thread is the worker; this one plays the GUI
  pmx::PlainMainLoop* gui_loop = nullptr;
  std::atomic<bool> ready{false};
  gui = std::thread([&] {
    pmx::PlainMainLoop own;
    gui_loop = &own;
    ready = true;
    own.PumpUntil([&] { return stop.load(); }, std::chrono::hours(1));
  });
  while (!ready) std::this_thread::yield();
  int counter = 0;
  for (auto _ : state) gui_loop->Synchronize([&] { ++counter; });
  stop = true;
  gui_loop->Wake();
  gui.join();
  benchmark::DoNotOptimize(counter);
}
BENCHMARK(BM_SynchronizeRoundTrip);

}  // namespace

BENCHMARK_MAIN();
