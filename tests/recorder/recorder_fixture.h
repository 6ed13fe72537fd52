#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "audio/core/dsp/acm_support.h"
#include "platform/main_loop.h"
#include "platform/ui_hook.h"
#include "recorder/recorder_clock.h"
#include "recorder/recorder_options.h"
#include "tests/support/temp_dir.h"

namespace pmx::test {

// A program folder of its own, fresh zero-filled settings for the objects a test
// makes (RecorderOptions, LptBase and ComNumber name them) and the messages the
// user would see.
class RecorderTest : public ::testing::Test {
 protected:
  RecorderTest() {
    // The forms' format components look for the codec registry when created.
    LoadACM();
    setenv("PELMORAX_HOME", home_.path().c_str(), 1);
    SetMessageBoxHook([this](const std::string& text, const std::string& caption) {
      EXPECT_EQ(caption, "Pelmorax");
      messages_.push_back(text);
    });
  }
  ~RecorderTest() override {
    SetMessageBoxHook({});
    unsetenv("PELMORAX_HOME");
  }

  void ResetOptions() {
    RecorderOptions = {};
    LptBase = 0;
    ComNumber = 0;
    settings_.RecordingFormatBuffer = {};
  }

  std::filesystem::path Home(const std::string& name) const { return home_ / name; }

  TempDir home_;
  std::vector<std::string> messages_;
  TRecorderSettings settings_{TRecorderOptions{}};
  TRecorderOptions& RecorderOptions = settings_.RecorderOptions;
  uint16_t& LptBase = settings_.LptBase;
  uint16_t& ComNumber = settings_.ComNumber;
};

// The texts of the errors handed to the main loop's exception handler while it lives.
class ReportedErrors {
 public:
  explicit ReportedErrors(MainLoop& loop) : loop_(loop) {
    loop.SetExceptionHandler([this](std::exception_ptr error) {
      try {
        std::rethrow_exception(error);
      } catch (const std::exception& e) {
        texts.push_back(e.what());
      }
    });
  }
  ~ReportedErrors() { loop_.SetExceptionHandler({}); }
  ReportedErrors(const ReportedErrors&) = delete;
  ReportedErrors& operator=(const ReportedErrors&) = delete;

  std::vector<std::string> texts;

 private:
  MainLoop& loop_;
};

// A point in local time.
inline RecorderClock::TimePoint LocalTimePoint(int year, int month, int day, int hour, int minute,
                                               int second, int millisecond = 0) {
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return std::chrono::system_clock::from_time_t(std::mktime(&local)) +
         std::chrono::milliseconds(millisecond);
}

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The lines of a text whose lines end with CR LF, without their ends.
inline std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text after the last line end";
  return lines;
}

}  // namespace pmx::test
