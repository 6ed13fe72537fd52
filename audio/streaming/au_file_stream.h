#pragma once

#include <cstdint>
#include <string>

namespace pmx {

// A byte stream with the class library's shape. Single-threaded.
class TStream {
 public:
  enum Origin { soBeginning = 0, soCurrent = 1, soEnd = 2 };

  virtual ~TStream() = default;
  // Counts actually moved; -1 on an error.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  // The new position; -1 on an error.
  virtual int64_t Seek(int64_t offset, Origin origin) = 0;

  int64_t Position() { return Seek(0, soCurrent); }
  int64_t Size();
};

// A stream over an open file descriptor, not owned.
class THandleStream : public TStream {
 public:
  explicit THandleStream(int handle) : handle_(handle) {}
  int Handle() const { return handle_; }
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, Origin origin) override;

 protected:
  int handle_;
};

// A file stream that owns its descriptor. Mode kCreate creates the file (or
// empties an existing one) for reading and writing; any other mode opens an
// existing file with the access of bits 0-1 (0 read, 1 write, 2 both). The
// sharing bits 4-7 have no counterpart here: files are not locked against others.
class TAuFileStream : public THandleStream {
 public:
  static constexpr uint16_t kCreate = 0xFFFF;

  // Raises EAuException with the system's text when the file cannot be opened.
  TAuFileStream(const std::string& file_name, uint16_t mode);
  ~TAuFileStream() override;
  TAuFileStream(const TAuFileStream&) = delete;
  TAuFileStream& operator=(const TAuFileStream&) = delete;
};

}  // namespace pmx
