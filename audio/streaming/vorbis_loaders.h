#pragma once

#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <atomic>
#include <string>

namespace pmx {

// A shared library bound at run time. Handle, FileName and the entry points are
// written under AuGlobalLock only before Loaded turns true; after that, any thread
// may read them. Loaded only ever goes from false to true.
struct TCodecLibrary {
  TCodecLibrary(const char* file_name, const char* display_name)
      : FileName(file_name), DisplayName(display_name) {}
  TCodecLibrary(const TCodecLibrary&) = delete;
  TCodecLibrary& operator=(const TCodecLibrary&) = delete;

  void* Handle = nullptr;
  std::atomic<bool> Loaded{false};
  std::string FileName;     // what is loaded; tests point it elsewhere
  const char* DisplayName;  // the name the error message gives
};

// Entry points of each library; one a missing library or name leaves null.
#define PMX_OGG_ENTRIES(X)                                                                                \
  X(ogg_stream_init) X(ogg_stream_clear) X(ogg_stream_reset) X(ogg_stream_destroy) X(ogg_stream_eos)      \
  X(ogg_stream_packetin) X(ogg_stream_pageout) X(ogg_stream_flush) X(ogg_stream_pagein)                    \
  X(ogg_stream_packetout) X(ogg_stream_packetpeek) X(ogg_page_checksum_set) X(ogg_page_version)           \
  X(ogg_page_continued) X(ogg_page_bos) X(ogg_page_eos) X(ogg_page_granulepos) X(ogg_page_serialno)       \
  X(ogg_page_pageno) X(ogg_page_packets) X(ogg_packet_clear) X(oggpack_writeinit) X(oggpack_reset)       \
  X(oggpack_writeclear) X(oggpack_readinit) X(oggpack_write) X(oggpack_look) X(oggpack_look1)             \
  X(oggpack_adv) X(oggpack_adv1) X(oggpack_read) X(oggpack_read1) X(oggpack_bytes) X(oggpack_bits)        \
  X(oggpack_get_buffer) X(ogg_sync_init) X(ogg_sync_clear) X(ogg_sync_reset) X(ogg_sync_destroy)          \
  X(ogg_sync_buffer) X(ogg_sync_wrote) X(ogg_sync_pageseek) X(ogg_sync_pageout)

#define PMX_VORBIS_ENTRIES(X)                                                                               \
  X(vorbis_info_init) X(vorbis_info_clear) X(vorbis_info_blocksize) X(vorbis_comment_init)                  \
  X(vorbis_comment_add) X(vorbis_comment_add_tag) X(vorbis_comment_query) X(vorbis_comment_query_count)     \
  X(vorbis_comment_clear) X(vorbis_block_init) X(vorbis_block_clear) X(vorbis_dsp_clear)                    \
  X(vorbis_analysis_init) X(vorbis_commentheader_out) X(vorbis_analysis_headerout) X(vorbis_analysis_buffer) \
  X(vorbis_analysis_wrote) X(vorbis_analysis_blockout) X(vorbis_analysis) X(vorbis_bitrate_addblock)        \
  X(vorbis_bitrate_flushpacket) X(vorbis_synthesis_headerin) X(vorbis_synthesis_init) X(vorbis_synthesis)   \
  X(vorbis_synthesis_blockin) X(vorbis_synthesis_pcmout) X(vorbis_synthesis_read) X(vorbis_packet_blocksize)

#define PMX_VORBISFILE_ENTRIES(X)                                                                       \
  X(ov_clear) X(ov_open_callbacks) X(ov_test_callbacks) X(ov_test_open) X(ov_bitrate)                   \
  X(ov_bitrate_instant) X(ov_streams) X(ov_seekable) X(ov_serialnumber) X(ov_raw_total) X(ov_pcm_total) \
  X(ov_time_total) X(ov_raw_seek) X(ov_pcm_seek) X(ov_pcm_seek_page) X(ov_time_seek)                    \
  X(ov_time_seek_page) X(ov_raw_tell) X(ov_pcm_tell) X(ov_time_tell) X(ov_info) X(ov_comment)          \
  X(ov_read_float) X(ov_read)

#define PMX_VORBISENC_ENTRIES(X)                                                                  \
  X(vorbis_encode_init) X(vorbis_encode_setup_managed) X(vorbis_encode_setup_vbr)                 \
  X(vorbis_encode_init_vbr) X(vorbis_encode_setup_init) X(vorbis_encode_ctl)

#define PMX_ENTRY_POINT(name) decltype(&::name) name = nullptr;

struct TOggLibrary : TCodecLibrary {
  TOggLibrary() : TCodecLibrary("libogg.so.0", "ogg.dll") {}
  PMX_OGG_ENTRIES(PMX_ENTRY_POINT)
  // Gone from the library's current releases; bound when present, called by nothing.
  void* oggpack_look_huff = nullptr;
  void* oggpack_adv_huff = nullptr;
};

struct TVorbisLibrary : TCodecLibrary {
  TVorbisLibrary() : TCodecLibrary("libvorbis.so.0", "vorbis.dll") {}
  PMX_VORBIS_ENTRIES(PMX_ENTRY_POINT)
};

struct TVorbisFileLibrary : TCodecLibrary {
  TVorbisFileLibrary() : TCodecLibrary("libvorbisfile.so.3", "vorbisfile.dll") {}
  PMX_VORBISFILE_ENTRIES(PMX_ENTRY_POINT)
};

struct TVorbisEncLibrary : TCodecLibrary {
  TVorbisEncLibrary() : TCodecLibrary("libvorbisenc.so.2", "vorbisenc.dll") {}
  PMX_VORBISENC_ENTRIES(PMX_ENTRY_POINT)
};

#undef PMX_ENTRY_POINT

// The process-wide bindings.
extern TOggLibrary OggLib;
extern TVorbisLibrary VorbisLib;
extern TVorbisFileLibrary VorbisFileLib;
extern TVorbisEncLibrary VorbisEncLib;

// Load and bind a library once; a failed load is tried again on the next call.
// They never raise.
void LoadOggLibrary();
void LoadVorbisLibrary();
void LoadVorbisFileLibrary();
void LoadVorbisEncLibrary();

// Calls the four loaders and raises EAuException "<name> library could not be
// loaded." for the first of ogg, vorbis, vorbisfile, vorbisenc that is not loaded.
void LoadVorbisLibraries();

}  // namespace pmx
