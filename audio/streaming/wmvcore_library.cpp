#include "audio/streaming/wmvcore_library.h"

namespace pmx {

constinit const TWMVCoreLibrary WMVCoreLib{.Loaded = true, .WMCreateSyncReader = &CreateMediaSyncReader};
constinit const TOpenAsioLibrary OpenAsioLib{};

}  // namespace pmx
