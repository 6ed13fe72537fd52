#include "platform/media/mpg123_library.h"

namespace pmx {

// Expands the header's aliases first, so that the symbol bound is the real one.
#define PMX_SYMBOL_TEXT(name) #name
#define PMX_SYMBOL(name) PMX_SYMBOL_TEXT(name)

Mpg123Library::Mpg123Library() {
  if (!library.Loaded()) return;
  bool all = true;
#define PMX_MPG123_BIND(name)                                                   \
  name = library.Bind<std::remove_pointer_t<decltype(name)>>(PMX_SYMBOL(name)); \
  all = all && name != nullptr;
  PMX_MPG123_ENTRIES(PMX_MPG123_BIND)
#undef PMX_MPG123_BIND
  complete = all && mpg123_init() == MPG123_OK;
}

void Mpg123Library::AllowOnlySixteenBits(mpg123_handle* handle, int channels) const {
  mpg123_format_none(handle);
  const long* rates = nullptr;
  size_t count = 0;
  mpg123_rates(&rates, &count);
  for (size_t i = 0; i < count; ++i) mpg123_format(handle, rates[i], channels, MPG123_ENC_SIGNED_16);
}

void Mpg123Library::KeepFormat(mpg123_handle* handle, long rate, int channels) const {
  mpg123_format_none(handle);
  mpg123_format(handle, rate, channels, MPG123_ENC_SIGNED_16);
}

bool Mpg123Library::OpenMeasured(mpg123_handle* handle, ReadFunction read, SeekFunction seek,
                                 void* source) const {
  return mpg123_replace_reader_handle(handle, read, seek, nullptr) == MPG123_OK &&
         mpg123_open_handle(handle, source) == MPG123_OK && mpg123_scan(handle) == MPG123_OK;
}

const Mpg123Library& Mpg123() {
  static const Mpg123Library library;
  return library;
}

}  // namespace pmx
