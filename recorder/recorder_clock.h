#pragma once

#include <chrono>
#include <ctime>
#include <functional>

namespace pmx {

// The wall clock the recorder's own decisions read (file names, retention, logs).
// Tests replace it with a clock of their own.
// Threads: Now may be called from any thread; Set is guarded by the same lock.
class RecorderClock {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  using Source = std::function<TimePoint()>;

  static TimePoint Now();
  // Installs source (empty: the system clock) and returns the one it replaces.
  static Source Set(Source source);
};

// when as local broken-down time.
std::tm LocalTime(RecorderClock::TimePoint when);

// when as a local date-time value: whole days since 30 December 1899, the time of
// day as the fraction.
double DateTimeValue(RecorderClock::TimePoint when);

// Installs a clock for the lifetime of a scope.
class ScopedRecorderClock {
 public:
  explicit ScopedRecorderClock(RecorderClock::Source source)
      : previous_(RecorderClock::Set(std::move(source))) {}
  ~ScopedRecorderClock() { RecorderClock::Set(std::move(previous_)); }
  ScopedRecorderClock(const ScopedRecorderClock&) = delete;
  ScopedRecorderClock& operator=(const ScopedRecorderClock&) = delete;

 private:
  RecorderClock::Source previous_;
};

}  // namespace pmx
