#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace pmx {

// Debian's lame encoding raw 16-bit little-endian PCM into one MP3 file, fed
// through a pipe or reading a file itself. What lame says on stderr reaches ours
// when it ends, but for the warning every raw run of it gives. Single-threaded.
class TLamePipe {
 public:
  // Starts lame; raises std::runtime_error when it can't be started. With samples
  // (a descriptor, kept by the caller) lame reads its input from there to the end
  // itself; without, from a pipe that Write fills.
  TLamePipe(int kbps, int sample_rate, int channels, const std::string& mp3, int samples = -1);
  ~TLamePipe();
  TLamePipe(const TLamePipe&) = delete;
  TLamePipe& operator=(const TLamePipe&) = delete;

  // Hands samples to lame; false when it took no more (it ended or failed).
  bool Write(const uint8_t* bytes, size_t count);
  // Ends the input and waits for lame; true when it exited with success.
  bool Finish();

 private:
  int input_ = -1;
  int messages_ = -1;  // lame's stderr
  pid_t pid_ = -1;
};

// Appends the samples of bytes, of bits 8 (unsigned), 16, 24 or 32 (signed, little
// endian), to out as 16-bit little-endian samples (the top 16 bits).
void AppendPcm16(const uint8_t* bytes, size_t count, int bits, std::string& out);

}  // namespace pmx
