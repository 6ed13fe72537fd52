#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/background_sync.h"
#include "platform/unique_fd.h"

namespace pmx {

// A four-character code as it is stored: the first character in the low byte.
constexpr uint32_t FourCC(const char (&code)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}

// A chunk's size on disk: its data and the pad byte that keeps chunks at even offsets.
constexpr uint64_t PaddedChunkSize(uint64_t size) { return size + (size & 1); }

// One chunk of a RIFF file. For "RIFF" and "LIST" chunks the data starts with the
// form type, which fccType holds; dwDataOffset is the file position right after
// the size field. A dirty chunk gets its size written when it is ascended from.
struct RiffChunk {
  uint32_t ckid = 0;
  uint32_t cksize = 0;
  uint32_t fccType = 0;
  uint64_t dwDataOffset = 0;
  bool dirty = false;
};

// A new size for a chunk's size field.
struct RiffSizePatch {
  const RiffChunk& chunk;
  uint64_t size;
};

enum class RiffResult {
  Ok,
  ChunkNotFound,
  CannotOpen,
  FileExists,
  CannotRead,
  CannotWrite,
  CannotSeek,
  TooLarge,  // a chunk size that would not fit in the 32-bit size field
};

// What Descend looks for: the next chunk, or the first with the id (Chunk), or the
// first "RIFF" / "LIST" with the form type (Riff, List) given in the chunk.
enum class RiffFind { Next, Chunk, Riff, List };
enum class RiffCreate { Chunk, Riff, List };

// A chunk id made of printable characters, as every real chunk id is; samples
// where a chunk header should be seldom are.
bool PrintableChunkId(uint32_t id);

// Reads length bytes at offset into out; false when the file holds fewer.
using RiffReadAt = std::function<bool(uint64_t offset, uint8_t* out, std::size_t length)>;

// The bytes of a "data" chunk whose body starts at data_start in a file of
// file_size bytes and whose size field says said. A recording whose writer died
// before fixing its header has a size field that says too little (or nothing):
// its data runs to the end of the file. The field holds when the file ends right
// after the data (and its pad byte) or when complete chunks with printable ids
// lead from there to the end (the last one may lack its pad byte); a size past
// the end counts only what is there.
uint64_t DataChunkBytes(const RiffReadAt& read, uint64_t data_start, uint64_t said,
                        uint64_t file_size);

class RiffFile;

// Finds the "data" chunk of a RIFF/WAVE file by walking its chunks from the
// first, past the RIFF size (a killed recording's is stale); data then holds its
// header and the position is at its body. ChunkNotFound for any other file,
// CannotRead when the file can't be read.
RiffResult FindWaveData(RiffFile& file, RiffChunk& data);

// Buffered reading and writing of a RIFF file over a POSIX file descriptor, or
// reading of a RIFF image held in memory, with chunk descend, ascend and create.
// Positions and file sizes are 64-bit; chunk sizes are the format's 32 bits, and
// a chunk that outgrows them is refused rather than wrapped.
//
// A file created here is new (an existing name is refused, never truncated) and
// is held under an exclusive flock while open, so other processes can tell that it
// is being written.
//
// Threads: one thread at a time uses an object; no locks.
class RiffFile {
 public:
  static constexpr std::size_t kDefaultBufferSize = 8192;

  RiffFile() = default;
  // Flushes and closes.
  ~RiffFile();
  RiffFile(const RiffFile&) = delete;
  RiffFile& operator=(const RiffFile&) = delete;

  RiffResult OpenRead(const std::string& path);
  // Read and write; falls back to read only where writing is not allowed.
  RiffResult OpenReadWrite(const std::string& path);
  // A new, empty file for reading and writing; FileExists when the name is taken.
  RiffResult Create(const std::string& path);
  // Reads a RIFF image in memory; the bytes must outlive the object.
  RiffResult OpenMemory(std::span<const uint8_t> image);
  // Writes what is buffered and closes; CannotWrite when that last write or the
  // close fails.
  RiffResult Close();

  bool IsOpen() const { return fd_.valid() || memory_open_; }
  // The open file's descriptor; -1 in memory mode or while closed.
  int Descriptor() const { return fd_.get(); }
  bool Writable() const { return writable_; }

  // Bytes read, 0 at the end, -1 on failure.
  int64_t Read(void* buffer, std::size_t length);
  // Bytes written (all of them), or -1 on failure.
  int64_t Write(const void* buffer, std::size_t length);
  // Like lseek; the new position, or -1.
  int64_t Seek(int64_t offset, int whence);
  uint64_t Position() const { return pos_; }
  // Bytes in the file, including what is still buffered; -1 on failure.
  int64_t Size() const;

  // Uses an I/O buffer of size bytes (0: none) after writing out the old one.
  RiffResult SetBuffer(std::size_t size);
  RiffResult Flush();
  // Flushes and asks the system to put the data on the disk.
  RiffResult Sync();
  // Flushes and has the data put on the disk by a thread of its own, without
  // waiting; CannotWrite once such a sync has failed.
  RiffResult SyncBehind();

  // Reads the chunk header at the current position (searching onward for the one
  // wanted, within parent when given) and leaves the position at its data, after
  // the form type of a "RIFF" or "LIST" chunk. ChunkNotFound at the end of the
  // file (or of parent), CannotRead when reading fails.
  RiffResult Descend(RiffChunk& ck, const RiffChunk* parent, RiffFind find = RiffFind::Next);
  // Leaves a chunk: a dirty one gets its size (data written up to the current
  // position) and a pad byte when odd; the position moves past the chunk.
  RiffResult Ascend(RiffChunk& ck);
  // Writes a chunk header at the current position (with ck's id, size and form
  // type) and leaves the position at its data. The chunk is dirty.
  RiffResult CreateChunk(RiffChunk& ck, RiffCreate kind = RiffCreate::Chunk);
  // Writes each size into its chunk's size field, in one write to the file, without
  // moving the position, so a file still being written carries up-to-date sizes.
  RiffResult PatchSizes(std::span<const RiffSizePatch> patches);

 private:
  RiffResult OpenFd(UniqueFd fd, bool writable);
  int64_t ReadAt(uint64_t offset, uint8_t* dst, std::size_t length) const;
  // The bytes written, fewer than length when a write failed.
  std::size_t WriteAt(uint64_t offset, const uint8_t* src, std::size_t length);
  bool Fill();
  int64_t ReadDirect(uint8_t* dst, std::size_t length);
  // Moves the position past what reached the file; false when not all of it did.
  bool WriteDirect(const uint8_t* src, std::size_t length);
  bool WriteLE32At(uint64_t offset, uint32_t value);
  RiffResult ReadHeaderPart(uint8_t* out, std::size_t length);
  bool InWindow(uint64_t at) const { return at >= buf_start_ && at < buf_start_ + buf_len_; }

  UniqueFd fd_;
  std::unique_ptr<BackgroundSync> sync_;  // made by the first SyncBehind
  bool memory_open_ = false;
  std::span<const uint8_t> memory_;
  bool writable_ = false;
  uint64_t pos_ = 0;
  // The window: buf_len_ bytes of the file from buf_start_; bytes [dirty_lo_,
  // dirty_hi_) of it are not written out yet.
  std::vector<uint8_t> buf_;
  uint64_t buf_start_ = 0;
  std::size_t buf_len_ = 0;
  std::size_t dirty_lo_ = 0;
  std::size_t dirty_hi_ = 0;
};

}  // namespace pmx
