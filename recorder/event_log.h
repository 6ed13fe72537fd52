#pragma once

#include <filesystem>
#include <string>

#include "platform/exception.h"
#include "recorder/recorder_clock.h"

namespace pmx {

// An I/O error while writing a log that did open.
class EInOutError : public Exception {
 public:
  using Exception::Exception;
};

// Local date and time in the system's short date and long time formats.
std::string DateTimeText(RecorderClock::TimePoint when);

// "Month-NN-log.txt" in the program folder for the month of when.
std::filesystem::path MonthlyLogFile(RecorderClock::TimePoint when);

// Writes text to stderr and appends "date time text" to the monthly log: every
// line the recorder logs, alarms included, takes this way. Returns false when the
// log can't be opened; raises EInOutError when writing to it fails.
bool AppendToMonthlyLog(const std::string& text);

// Appends text to the monthly log (and stderr); when the log fails, says why on
// stderr. Never raises: for messages that must not be lost on the way.
void NoteInMonthlyLog(const std::string& text) noexcept;

// Appends the event (on one line) to the monthly log and, when that log opened,
// makes it the one line of "alarm.txt". Raises EInOutError when writing fails.
void LogEvent(const std::string& event);

// Device errors carry line breaks; a log line does not.
std::string OneLine(std::string text);

// "7" -> "07"; longer numbers stay as they are.
std::string TwoDigits(int number);

}  // namespace pmx
