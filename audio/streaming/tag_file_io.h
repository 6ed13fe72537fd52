#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pmx {

// Reads exactly size bytes at offset without moving the file position.
bool ReadAt(int fd, int64_t offset, void* data, size_t size);
// Writes all bytes at the file position.
bool WriteAll(int fd, const void* data, size_t size);
// -1 when the size cannot be had.
int64_t FileSize(int fd);
// -1 when the position cannot be had.
int64_t FilePosition(int fd);

// Puts head in front of the whole content of the regular file open read-write on fd.
// The new content goes to a temporary file beside it, is synced and renamed over
// the old one, so a failure at any step leaves the old file as it was. On success
// fd is made to refer to the new file with its former flags and numeric position;
// a lock held through the old descriptor does not carry over.
bool PrependToFile(int fd, std::string_view head);

}  // namespace pmx
