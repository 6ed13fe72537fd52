#pragma once

#include "platform/media/media_reader.h"

namespace pmx {

// The media runtime's binding record, bound at program start to our own reader
// layer, so it is always loaded; the decoding libraries behind it load on the
// first reader, which is none when they are missing. Only the synchronous reader
// exists; the writer, sink, profile and asynchronous reader entry points stay
// null. Constant after static initialisation: any thread may read it.
struct TWMVCoreLibrary {
  bool Loaded = false;
  decltype(&CreateMediaSyncReader) WMCreateSyncReader = nullptr;
  void* WMCreateWriter = nullptr;
  void* WMCreateWriterFileSink = nullptr;
  void* WMCreateProfileManager = nullptr;
  void* WMCreateReader = nullptr;
  void* WMCreateWriterNetworkSink = nullptr;
};

// The ASIO host library's record: nothing here loads one, and nothing calls it.
struct TOpenAsioLibrary {
  bool Loaded = false;
  void* CreateOpenAsio = nullptr;
};

extern const TWMVCoreLibrary WMVCoreLib;
extern const TOpenAsioLibrary OpenAsioLib;

}  // namespace pmx
