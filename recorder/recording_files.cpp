#include "recorder/recording_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"
#include "recorder/event_log.h"
#include "recorder/recorder_clock.h"
#include "recorder/recorder_options.h"

namespace pmx {
namespace {

// Files whose extension is given are deleted when their day lies before `before`.
struct RetentionRule {
  std::string_view extension;
  double before;
};

bool IsReadOnly(const struct stat& status) { return (status.st_mode & S_IWUSR) == 0; }

RecorderClock::TimePoint ModificationTime(const struct stat& status) {
  using namespace std::chrono;
  return RecorderClock::TimePoint(duration_cast<system_clock::duration>(
      seconds(status.st_mtim.tv_sec) + nanoseconds(status.st_mtim.tv_nsec)));
}

const RetentionRule* RuleFor(std::string_view name, const std::vector<RetentionRule>& rules) {
  for (const RetentionRule& rule : rules) {
    if (name.size() >= rule.extension.size() &&
        strcasecmp(name.data() + name.size() - rule.extension.size(), rule.extension.data()) == 0) {
      return &rule;
    }
  }
  return nullptr;
}

// True when the entry is an expired regular file that could be deleted.
bool EraseIfExpired(int folder, const char* name, const RetentionRule& rule) {
  struct stat status;
  if (fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode)) {
    return false;
  }
  // A file written in the afternoon counts as of the next day.
  const double file_day = std::nearbyint(DateTimeValue(ModificationTime(status)));
  if (file_day >= rule.before || IsReadOnly(status)) return false;
  return unlinkat(folder, name, 0) == 0;
}

// Names of the files deleted from folder.
std::vector<std::string> SweepFolder(const std::string& folder, const std::vector<RetentionRule>& rules) {
  std::vector<std::string> deleted;
  UniqueFd fd(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) return deleted;
  std::unique_ptr<DIR, int (*)(DIR*)> stream(fdopendir(fd.get()), closedir);
  if (!stream) return deleted;
  const int folder_fd = fd.get();
  static_cast<void>(fd.Release());
  while (const dirent* entry = readdir(stream.get())) {
    const RetentionRule* rule = RuleFor(entry->d_name, rules);
    if (rule && EraseIfExpired(folder_fd, entry->d_name, *rule)) deleted.emplace_back(entry->d_name);
  }
  return deleted;
}

constexpr std::size_t kStemLength = 14;  // YYYYMMDDhhmmss

std::string RecordingStem(RecorderClock::TimePoint when) {
  const std::tm local = LocalTime(when);
  return std::to_string(local.tm_year + 1900) + TwoDigits(local.tm_mon + 1) + TwoDigits(local.tm_mday) +
         TwoDigits(local.tm_hour) + TwoDigits(local.tm_min) + TwoDigits(local.tm_sec);
}

bool Exists(const std::filesystem::path& path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0;
}

// The recording or one of the files its encoders make already exists.
bool StemTaken(const std::filesystem::path& stem) {
  for (const char* extension : {".wav", ".mp3", ".ogg"}) {
    std::filesystem::path path = stem;
    if (Exists(path += extension)) return true;
  }
  return false;
}

}  // namespace

void DeleteExpiredRecordings(const TRecorderOptions& options) {
  const double today = std::nearbyint(DateTimeValue(RecorderClock::Now()) - 0.5);
  std::vector<RetentionRule> rules;
  if (options.WavDays > 0) rules.push_back({".wav", today - options.WavDays});
  rules.push_back({".mp3", today - options.CompressedDays});
  rules.push_back({".ogg", today - options.CompressedDays});
  for (const std::string& name : SweepFolder(options.RecordingFolder, rules)) {
    AppendToMonthlyLog("Deleted " + (std::filesystem::path(options.RecordingFolder) / name).string());
  }
}

std::string NewRecordingFileName(const std::string& folder) {
  return NewRecordingFileName(folder, RecorderClock::Now());
}

std::string NewRecordingFileName(const std::string& folder_name, RecorderClock::TimePoint start) {
  const std::filesystem::path folder = folder_name;
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(folder, error)) return "";
  // An hour of taken names only happens when the clock went back over a whole
  // hour of recordings; beyond that the folder is not usable.
  constexpr int kMaxSeconds = 3600;
  for (int second = 0; second < kMaxSeconds; ++second) {
    const std::filesystem::path stem = folder / RecordingStem(start + std::chrono::seconds(second));
    if (!StemTaken(stem)) return stem.string() + ".wav";
  }
  return "";
}

std::string NextFreeRecordingFileName(const std::string& taken) {
  const std::filesystem::path path = taken;
  const std::string stem = path.stem().string();
  std::tm local{};
  const char* end = strptime(stem.c_str(), "%Y%m%d%H%M%S", &local);
  if (stem.size() != kStemLength || end == nullptr || *end != '\0') return "";
  local.tm_isdst = -1;
  const std::time_t taken_second = std::mktime(&local);
  if (taken_second == -1) return "";
  return NewRecordingFileName(
      path.parent_path().string(),
      std::chrono::system_clock::from_time_t(taken_second) + std::chrono::seconds(1));
}

std::string MakeRecordingFolder(const std::string& folder_name) {
  const std::filesystem::path folder = folder_name;
  if (folder.empty()) return "no recording folder is set";
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return "";
  std::filesystem::create_directories(folder, error);
  if (!error && !std::filesystem::is_directory(folder, error)) {
    error = std::make_error_code(std::errc::not_a_directory);
  }
  if (error) return error.message();
  // A mistyped folder records too: the log tells where.
  NoteInMonthlyLog("recording folder " + folder.string() + " was missing and has been made");
  return "";
}

bool FileNotInUse(const std::string& file_name) {
  struct stat status;
  if (stat(file_name.c_str(), &status) != 0) return true;
  constexpr int kTries = 11;
  for (int attempt = 0; attempt < kTries; ++attempt) {
    UniqueFd fd(open(file_name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd && flock(fd.get(), LOCK_EX | LOCK_NB) == 0) return true;
  }
  return false;
}

bool EraseFile(const std::string& file_name) {
  struct stat status;
  if (lstat(file_name.c_str(), &status) != 0) return false;
  if (S_ISREG(status.st_mode) && IsReadOnly(status)) return false;
  return unlink(file_name.c_str()) == 0;
}

}  // namespace pmx
