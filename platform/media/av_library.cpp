#include "platform/media/av_library.h"

namespace pmx {
namespace {

template <typename F>
void BindTo(const SharedLibrary& library, F*& slot, const char* name, bool& all) {
  slot = library.Bind<F>(name);
  all = all && slot != nullptr;
}

}  // namespace

AvLibrary::AvLibrary() {
  bool all = avutil.Loaded() && swresample.Loaded() && avcodec.Loaded() && avformat.Loaded();
#define PMX_FROM(library) [&](auto& slot, const char* name) { BindTo(library, slot, name, all); }
  const auto from_avutil = PMX_FROM(avutil);
  const auto from_swresample = PMX_FROM(swresample);
  const auto from_avcodec = PMX_FROM(avcodec);
  const auto from_avformat = PMX_FROM(avformat);
#undef PMX_FROM
#define PMX_AVUTIL(name) from_avutil(name, #name);
#define PMX_SWRESAMPLE(name) from_swresample(name, #name);
#define PMX_AVCODEC(name) from_avcodec(name, #name);
#define PMX_AVFORMAT(name) from_avformat(name, #name);
  PMX_AVUTIL_ENTRIES(PMX_AVUTIL)
  PMX_SWRESAMPLE_ENTRIES(PMX_SWRESAMPLE)
  PMX_AVCODEC_ENTRIES(PMX_AVCODEC)
  PMX_AVFORMAT_ENTRIES(PMX_AVFORMAT)
#undef PMX_AVUTIL
#undef PMX_SWRESAMPLE
#undef PMX_AVCODEC
#undef PMX_AVFORMAT
  complete = all;
  // The decoders' own complaints about damaged files would flood a log nobody
  // reads; the reader reports what matters through its results.
  if (complete) av_log_set_level(AV_LOG_QUIET);
}

// Never unloaded: a reader closed during the program's own teardown must still
// find its libraries, and libav's process-wide state must not dangle.
const AvLibrary& AvLib() {
  static const AvLibrary* const library = new AvLibrary;
  return *library;
}

}  // namespace pmx
