#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace pmx {

// What ReadRegularFile returns for a path that holds something other than a
// regular file (a FIFO, a device, a folder).
inline constexpr int kNotRegularFile = -1;

// Reads the regular file at path into text, at most max_bytes of it, without
// ever waiting on what is there: anything but a regular file is refused before
// it is opened, and the open itself does not block (a FIFO put in the file's
// place meanwhile is refused after it). Returns 0, kNotRegularFile or an errno
// value (ENOENT when nothing is there).
int ReadRegularFile(const std::filesystem::path& path, std::size_t max_bytes, std::string& text);

// Writes all of data to fd, going on after short writes and interruptions.
// Returns false with errno set on an error.
bool WriteAll(int fd, std::string_view data);

// Replaces the file at path with data: writes a temporary file beside it, flushes
// it to the disk and renames it over path, so that a crash leaves either the old or
// the new contents, never a torn file. Returns false (path untouched) on an error,
// and when something other than a regular file is at path (a FIFO or a device
// someone put there is theirs, not ours to replace).
bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data);

}  // namespace pmx
