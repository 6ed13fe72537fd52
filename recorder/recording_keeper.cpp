#include "recorder/recording_keeper.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "platform/file_write.h"
#include "platform/ipc/program_folder.h"
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

struct Copy {
  UniqueFd fd;
  std::string name;
  int refused = 0;  // why the recording's own folder did not take it
};

// A new file for what name held: under its name (its folder made again) or the
// next free name there; when that folder cannot take it, in the settings folder,
// else in the home folder, so that nothing is thrown away.
Copy CreateCopy(const std::string& name, RecorderClock::TimePoint start,
                const std::string& folder) {
  Copy copy{CreateNew(name), name};
  if (!copy.fd && errno == EEXIST && !(copy.name = NewRecordingFileName(folder, start)).empty()) {
    copy.fd = CreateNew(copy.name);
  }
  if (copy.fd) return copy;
  copy.refused = errno;
  const char* home = std::getenv("HOME");
  for (const std::filesystem::path& elsewhere :
       {ProgramFolder(), std::filesystem::path(home ? home : "")}) {
    if (elsewhere.empty() || (copy.name = NewRecordingFileName(elsewhere.string(), start)).empty())
      continue;
    if ((copy.fd = CreateNew(copy.name))) return copy;
  }
  errno = copy.refused;
  return copy;
}

// Copies the whole of from into to, which is new and empty.
void CopyData(int from, UniqueFd to, const std::string& name) {
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
  Copy copy{std::move(kept.copy), name};
  if (!copy.fd) copy = CreateCopy(name, start, folder);
  if (!copy.fd) CannotSave(name, errno);
  CopyData(kept.file.fd.get(), std::move(copy.fd), name);
  AppendToMonthlyLog("recording " + name + " was deleted while it was written" +
                     (copy.refused ? " and its folder cannot take it again (" +
                                         std::string(std::strerror(copy.refused)) + ")"
                                   : std::string()) +
                     "; what it held is saved in " + copy.name);
  return copy.name;
}

}  // namespace pmx
