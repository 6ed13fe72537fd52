#pragma once

#include <filesystem>
#include <string_view>

namespace pmx {

// Writes all of data to fd, going on after short writes and interruptions.
// Returns false with errno set on an error.
bool WriteAll(int fd, std::string_view data);

// Replaces the file at path with data: writes a temporary file beside it, flushes
// it to the disk and renames it over path, so that a crash leaves either the old or
// the new contents, never a torn file. Returns false (path untouched) on an error.
bool ReplaceFileContents(const std::filesystem::path& path, std::string_view data);

}  // namespace pmx
