#include "recorder/event_log.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/file_write.h"
#include "platform/ipc/program_folder.h"
#include "platform/unique_fd.h"

namespace pmx {
namespace {

std::string LogLine(RecorderClock::TimePoint when, const std::string& text) {
  return DateTimeText(when) + " " + text + "\r\n";
}

// Writes line to the open file and closes it; any failure raises.
void WriteAndClose(UniqueFd fd, const std::string& line, const std::filesystem::path& path) {
  bool ok = WriteAll(fd.get(), line);
  int error = errno;
  if (fd.Close() != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) throw EInOutError("I/O error writing " + path.string() + ": " + std::strerror(error));
}

}  // namespace

std::string DateTimeText(RecorderClock::TimePoint when) {
  std::tm local = LocalTime(when);
  char text[128];
  std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
  return std::string(text, length);
}

std::filesystem::path MonthlyLogFile(RecorderClock::TimePoint when) {
  return ProgramFolder() / ("Month-" + TwoDigits(LocalTime(when).tm_mon + 1) + "-log.txt");
}

bool AppendToMonthlyLog(const std::string& text) {
  // A service manager keeps stderr in its journal: that is where the owner of a
  // headless recorder looks, so every line logged is told there first.
  std::fprintf(stderr, "pelmorax: %s\n", text.c_str());
  RecorderClock::TimePoint now = RecorderClock::Now();
  std::filesystem::path path = MonthlyLogFile(now);
  // Opened without waiting, here and for alarm.txt: a FIFO put in a log's place
  // would hold the open until someone read it.
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!fd) return false;
  WriteAndClose(std::move(fd), LogLine(now, text), path);
  return true;
}

void NoteInMonthlyLog(const std::string& text) noexcept {
  std::string reason;
  try {
    if (AppendToMonthlyLog(text)) return;
    const int error = errno;
    reason = "cannot open " + MonthlyLogFile(RecorderClock::Now()).string() + ": " +
             std::strerror(error);
  } catch (const std::exception& e) {
    reason = e.what();
  }
  std::fprintf(stderr, "pelmorax: the line above is not in the monthly log (%s)\n", reason.c_str());
}

void LogEvent(const std::string& event) {
  const std::string line = OneLine(event);
  if (!AppendToMonthlyLog(line)) return;
  std::filesystem::path path = ProgramFolder() / "alarm.txt";
  UniqueFd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
  if (fd) WriteAndClose(std::move(fd), LogLine(RecorderClock::Now(), line), path);
}

std::string OneLine(std::string text) {
  std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
  return text;
}

std::string TwoDigits(int number) {
  std::string text = std::to_string(number);
  return text.size() == 1 ? "0" + text : text;
}

}  // namespace pmx
