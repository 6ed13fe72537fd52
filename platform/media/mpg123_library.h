#pragma once

// Positions are off_t, which is 64 bits here: the plain names are the 64-bit ones.
#ifndef MPG123_NO_LARGENAME
#define MPG123_NO_LARGENAME
#endif
#include <mpg123.h>

#include "platform/shared_library.h"

namespace pmx {

// libmpg123's entry points as its header declares them; some are the header's
// aliases of newer symbols (mpg123_param is mpg123_param2).
// clang-format off
#define PMX_MPG123_ENTRIES(X)                                                                   \
  X(mpg123_init) X(mpg123_new) X(mpg123_delete) X(mpg123_param) X(mpg123_format_none)           \
  X(mpg123_format) X(mpg123_rates) X(mpg123_replace_reader_handle) X(mpg123_open_handle)        \
  X(mpg123_open_feed) X(mpg123_decode) X(mpg123_close) X(mpg123_scan) X(mpg123_getformat)       \
  X(mpg123_length) X(mpg123_read) X(mpg123_seek) X(mpg123_seek_frame) X(mpg123_tellframe)       \
  X(mpg123_tell) X(mpg123_tpf) X(mpg123_info) X(mpg123_framelength) X(mpg123_id3)
// clang-format on

// The process's one binding of libmpg123 ("libmpg123.so.0"), shared by the codec
// registry, the MP3 reader and the MPEG file component. Complete only when the
// library loaded, every entry point is there and it initialised.
//
// Threads: built once on first use (a function-local static), read-only after.
struct Mpg123Library {
  Mpg123Library();
  bool Complete() const { return complete; }
  // Has handle decode to 16-bit signed PCM alone, at every rate, in channels
  // (MPG123_MONO, MPG123_STEREO or both).
  void AllowOnlySixteenBits(mpg123_handle* handle, int channels) const;
  // Holds the output to the format the stream began with: frames of other channel
  // counts are mixed down or doubled, frames of other rates resampled, so a stream
  // joined from parts never changes its output layout midway.
  void KeepFormat(mpg123_handle* handle, long rate, int channels) const;
  // Opens handle on a byte source and reads the stream through once, so that its
  // length is the decoded length (a VBR stream without a Xing header too) and seeks
  // by sample land exactly there, the encoder's padding still cut at the end.
  // Never fuzzy: positions guessed from the first frame's bit rate are wrong.
  using ReadFunction = ssize_t (*)(void* source, void* buffer, size_t count);
  using SeekFunction = off_t (*)(void* source, off_t offset, int whence);
  bool OpenMeasured(mpg123_handle* handle, ReadFunction read, SeekFunction seek,
                    void* source) const;

  SharedLibrary library{"libmpg123.so.0"};
  bool complete = false;
#define PMX_MPG123_SLOT(name) decltype(&::name) name = nullptr;
  PMX_MPG123_ENTRIES(PMX_MPG123_SLOT)
#undef PMX_MPG123_SLOT
};

const Mpg123Library& Mpg123();

}  // namespace pmx
