#include "recorder/recording_keeper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/file_write.h"
#include "recorder/event_log.h"
#include "recorder/recording_files.h"

namespace pmx {
namespace {

enum class FileState { kThere, kDeleted, kMoved };

FileState StateOf(const TCreatedFile& file) {
  struct stat open_file {};
  if (!file.fd || fstat(file.fd.get(), &open_file) != 0) return FileState::kThere;
  if (open_file.st_nlink == 0) return FileState::kDeleted;
  struct stat named {};
  if (stat(file.name.c_str(), &named) != 0 || named.st_ino != open_file.st_ino ||
      named.st_dev != open_file.st_dev) {
    return FileState::kMoved;
  }
  return FileState::kThere;
}

[[noreturn]] void CannotSave(const std::string& name, int error) {
  throw EInOutError("what the deleted " + name + " held cannot be saved: " + std::strerror(error));
}

UniqueFd CreateNew(const std::string& name) {
  std::error_code ignored;  // the create says what went wrong
  std::filesystem::create_directories(std::filesystem::path(name).parent_path(), ignored);
  return UniqueFd(open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
}

// Copies the whole of from into to, which is new and empty.
void Copy(int from, UniqueFd to, const std::string& name) {
  std::string buffer(1 << 20, '\0');
  for (off_t at = 0;;) {
    const ssize_t got = pread(from, buffer.data(), buffer.size(), at);
    if (got < 0) CannotSave(name, errno);
    if (got == 0) break;
    if (!WriteAll(to.get(), std::string_view(buffer.data(), static_cast<std::size_t>(got)))) {
      CannotSave(name, errno);
    }
    at += got;
  }
  if (to.Close() != 0) CannotSave(name, errno);
}

}  // namespace

void TRecordingKeeper::Keep(TCreatedFile file) { files_.push_back({std::move(file), {}}); }

std::string TRecordingKeeper::Gone() const {
  if (files_.empty() || StateOf(files_.back().file) == FileState::kThere) return "";
  return files_.back().file.name;
}

void TRecordingKeeper::ReserveGone() {
  if (!files_.empty() && !files_.back().copy) files_.back().copy = CreateNew(files_.back().file.name);
}

std::string TRecordingKeeper::Restore(const std::string& name, RecorderClock::TimePoint start,
                                      const std::string& folder) {
  const auto newest =
      std::find_if(files_.rbegin(), files_.rend(), [&](const Kept& k) { return k.file.name == name; });
  if (newest == files_.rend()) return name;
  Kept kept = std::move(*newest);
  files_.erase(std::next(newest).base());
  switch (StateOf(kept.file)) {
    case FileState::kThere:
      return name;
    case FileState::kMoved:
      if (!kept.copy) {
        AppendToMonthlyLog("recording " + name + " was moved away while it was written; it is left as it is");
        return "";
      }
      break;
    case FileState::kDeleted:
      break;
  }
  std::string copy = name;
  if (!kept.copy && !(kept.copy = CreateNew(copy)) && errno == EEXIST &&
      !(copy = NewRecordingFileName(folder, start)).empty()) {
    kept.copy = CreateNew(copy);
  }
  if (!kept.copy) CannotSave(name, errno);
  Copy(kept.file.fd.get(), std::move(kept.copy), name);
  AppendToMonthlyLog("recording " + name + " was deleted while it was written; what it held is saved in " + copy);
  return copy;
}

}  // namespace pmx
