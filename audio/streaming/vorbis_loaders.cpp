#include "audio/streaming/vorbis_loaders.h"

#include <dlfcn.h>

#include <mutex>

#include "audio/streaming/streaming.h"

namespace pmx {

TOggLibrary OggLib;
TVorbisLibrary VorbisLib;
TVorbisFileLibrary VorbisFileLib;
TVorbisEncLibrary VorbisEncLib;

namespace {

template <class Pointer>
void Bind(void* handle, const char* name, Pointer& slot) {
  slot = reinterpret_cast<Pointer>(dlsym(handle, name));
}

#define PMX_BIND_ENTRY(name) Bind(lib.Handle, #name, lib.name);

void BindEntries(TOggLibrary& lib) {
  PMX_OGG_ENTRIES(PMX_BIND_ENTRY)
  Bind(lib.Handle, "oggpack_look_huff", lib.oggpack_look_huff);
  Bind(lib.Handle, "oggpack_adv_huff", lib.oggpack_adv_huff);
}
void BindEntries(TVorbisLibrary& lib) { PMX_VORBIS_ENTRIES(PMX_BIND_ENTRY) }
void BindEntries(TVorbisFileLibrary& lib) { PMX_VORBISFILE_ENTRIES(PMX_BIND_ENTRY) }
void BindEntries(TVorbisEncLibrary& lib) { PMX_VORBISENC_ENTRIES(PMX_BIND_ENTRY) }

#undef PMX_BIND_ENTRY

template <class Library>
void Load(Library& lib) {
  std::lock_guard lock(AuGlobalLock());
  if (lib.Loaded.load(std::memory_order_relaxed)) return;
  lib.Handle = dlopen(lib.FileName.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!lib.Handle) return;
  BindEntries(lib);
  lib.Loaded.store(true, std::memory_order_release);
}

}  // namespace

void LoadOggLibrary() { Load(OggLib); }
void LoadVorbisLibrary() { Load(VorbisLib); }
void LoadVorbisFileLibrary() { Load(VorbisFileLib); }
void LoadVorbisEncLibrary() { Load(VorbisEncLib); }

void LoadVorbisLibraries() {
  LoadOggLibrary();
  LoadVorbisLibrary();
  LoadVorbisFileLibrary();
  LoadVorbisEncLibrary();
  const TCodecLibrary* const in_order[] = {&OggLib, &VorbisLib, &VorbisFileLib, &VorbisEncLib};
  for (const TCodecLibrary* lib : in_order) {
    if (!lib->Loaded.load(std::memory_order_acquire))
      throw EAuException(std::string(lib->DisplayName) + " library could not be loaded.");
  }
}

}  // namespace pmx
