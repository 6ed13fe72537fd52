#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

#include "platform/shared_library.h"

namespace pmx {

#define PMX_AV_MAJOR_TEXT(major) #major
#define PMX_AV_MAJOR(major) PMX_AV_MAJOR_TEXT(major)

// clang-format off
#define PMX_AVUTIL_ENTRIES(X)                                                               \
  X(av_log_set_level) X(av_malloc) X(av_free) X(av_frame_alloc) X(av_frame_free)           \
  X(av_dict_get) X(av_dict_set) X(av_dict_free) X(av_channel_layout_default)               \
  X(av_channel_layout_uninit)
#define PMX_SWRESAMPLE_ENTRIES(X) X(swr_alloc_set_opts2) X(swr_init) X(swr_free) X(swr_convert)
#define PMX_AVCODEC_ENTRIES(X)                                                              \
  X(avcodec_find_decoder) X(avcodec_alloc_context3) X(avcodec_free_context)                \
  X(avcodec_parameters_to_context) X(avcodec_open2) X(avcodec_send_packet)                 \
  X(avcodec_receive_frame) X(avcodec_flush_buffers) X(av_packet_alloc) X(av_packet_free)   \
  X(av_packet_unref)
#define PMX_AVFORMAT_ENTRIES(X)                                                             \
  X(avformat_alloc_context) X(avformat_open_input) X(avformat_find_stream_info)            \
  X(avformat_close_input) X(av_read_frame) X(av_seek_frame) X(avio_alloc_context)          \
  X(avio_context_free)
// clang-format on

// The libav* decoding libraries, loaded once for the process. Complete only when
// every library and entry point is there; a machine without them decodes
// nothing through them and runs everything else. Loaded on first use and kept
// until the process ends. Constant after construction: any thread may call
// through it.
struct AvLibrary {
  AvLibrary();

  // The versions the headers describe: their structures are read field by field, so
  // a library of another major version must not be taken.
  SharedLibrary avutil{"libavutil.so." PMX_AV_MAJOR(LIBAVUTIL_VERSION_MAJOR)};
  SharedLibrary swresample{"libswresample.so." PMX_AV_MAJOR(LIBSWRESAMPLE_VERSION_MAJOR)};
  SharedLibrary avcodec{"libavcodec.so." PMX_AV_MAJOR(LIBAVCODEC_VERSION_MAJOR)};
  SharedLibrary avformat{"libavformat.so." PMX_AV_MAJOR(LIBAVFORMAT_VERSION_MAJOR)};
  bool complete = false;

#define PMX_AV_SLOT(name) decltype(&::name) name = nullptr;
  PMX_AVUTIL_ENTRIES(PMX_AV_SLOT)
  PMX_SWRESAMPLE_ENTRIES(PMX_AV_SLOT)
  PMX_AVCODEC_ENTRIES(PMX_AV_SLOT)
  PMX_AVFORMAT_ENTRIES(PMX_AV_SLOT)
#undef PMX_AV_SLOT
};

const AvLibrary& AvLib();

// Frees a libav object with its own free function.
struct AvFree {
  void operator()(AVCodecContext* p) const { AvLib().avcodec_free_context(&p); }
  void operator()(SwrContext* p) const { AvLib().swr_free(&p); }
  void operator()(AVPacket* p) const { AvLib().av_packet_free(&p); }
  void operator()(AVFrame* p) const { AvLib().av_frame_free(&p); }
  void operator()(AVFormatContext* p) const { AvLib().avformat_close_input(&p); }
  // The context's buffer may have been replaced by libav; the current one goes with it.
  void operator()(AVIOContext* p) const {
    AvLib().av_free(p->buffer);
    AvLib().avio_context_free(&p);
  }
};
template <typename T>
using AvOwned = std::unique_ptr<T, AvFree>;

}  // namespace pmx
