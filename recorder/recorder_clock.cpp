#include "recorder/recorder_clock.h"

#include <mutex>
#include <utility>

namespace pmx {
namespace {

std::mutex clock_mutex;
RecorderClock::Source clock_source;

}  // namespace

RecorderClock::TimePoint RecorderClock::Now() {
  std::lock_guard lock(clock_mutex);
  return clock_source ? clock_source() : std::chrono::system_clock::now();
}

RecorderClock::Source RecorderClock::Set(Source source) {
  std::lock_guard lock(clock_mutex);
  return std::exchange(clock_source, std::move(source));
}

std::tm LocalTime(RecorderClock::TimePoint when) {
  std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  std::tm local{};
  localtime_r(&seconds, &local);
  return local;
}

double DateTimeValue(RecorderClock::TimePoint when) {
  using namespace std::chrono;
  // 30 December 1899 lies this many days before 1 January 1970.
  constexpr int kDaysBefore1970 = 25569;
  const auto whole_seconds = floor<seconds>(when);
  const std::tm local = LocalTime(whole_seconds);
  const sys_days date = year(local.tm_year + 1900) / (local.tm_mon + 1) / local.tm_mday;
  const double seconds_of_day = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec +
                                duration<double>(when - whole_seconds).count();
  return date.time_since_epoch().count() + kDaysBefore1970 + seconds_of_day / 86400.0;
}

}  // namespace pmx
