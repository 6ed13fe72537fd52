#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/codecs/acm.h"
#include "platform/wave_types.h"

// The library's binding of the codec registry and the conversion services on top
// of it. The binding is made once before any component exists (LoadACM) and
// undone at the end (UnloadACM); the services then run on any thread. A
// conversion object belongs to the one component that created it.

namespace pmx {

// The registry's entry points as the library binds them; one it does not offer
// stays empty.
struct TACMEntryPoints {
  decltype(&::pmx::acmGetVersion) acmGetVersion = nullptr;
  decltype(&::pmx::acmMetrics) acmMetrics = nullptr;
  decltype(&::pmx::acmDriverEnum) acmDriverEnum = nullptr;
  decltype(&::pmx::acmDriverDetails) acmDriverDetailsA = nullptr;
  decltype(&::pmx::acmDriverOpen) acmDriverOpen = nullptr;
  decltype(&::pmx::acmDriverClose) acmDriverClose = nullptr;
  decltype(&::pmx::acmDriverID) acmDriverID = nullptr;
  decltype(&::pmx::acmFormatTagDetails) acmFormatTagDetailsA = nullptr;
  decltype(&::pmx::acmFormatTagEnum) acmFormatTagEnumA = nullptr;
  decltype(&::pmx::acmFormatChoose) acmFormatChooseA = nullptr;
  decltype(&::pmx::acmFormatDetails) acmFormatDetailsA = nullptr;
  decltype(&::pmx::acmFormatEnum) acmFormatEnumA = nullptr;
  decltype(&::pmx::acmFormatSuggest) acmFormatSuggest = nullptr;
  decltype(&::pmx::acmStreamOpen) acmStreamOpen = nullptr;
  decltype(&::pmx::acmStreamClose) acmStreamClose = nullptr;
  decltype(&::pmx::acmStreamSize) acmStreamSize = nullptr;
  decltype(&::pmx::acmStreamConvert) acmStreamConvert = nullptr;
  decltype(&::pmx::acmStreamReset) acmStreamReset = nullptr;
  decltype(&::pmx::acmStreamPrepareHeader) acmStreamPrepareHeader = nullptr;
  decltype(&::pmx::acmStreamUnprepareHeader) acmStreamUnprepareHeader = nullptr;
};

// Binds the registry and gives it the core's names and PCM routines.
void LoadACM();
void UnloadACM();
// The binding is made (the registry answers acmGetVersion).
bool ACMLoaded();
// Bound with version 2.00 or later: every service needs this.
bool ACMAvailable();
// The bound entry points; all empty while not loaded.
const TACMEntryPoints& ACMEntryPoints();

enum TMMConvertQuality { cqHigh, cqLow };

// True when both are present and differ in tag, bits, channels or rate.
bool acmFormatsDiffer(PWaveFormatEx a, PWaveFormatEx b);
// An 18-byte PCM format the input converts to; PCM comes back as it is. Tag 0
// when there is none.
void acmSuggestPCMFormat(PWaveFormatEx format, WaveFormatEx& out);
// Directly or through intermediate PCM formats.
bool acmCanConvert(PWaveFormatEx source, PWaveFormatEx dest, TMMConvertQuality quality);

// One stream of a conversion and the buffers it owns: its source (leftover
// first, then the new bytes) and its destination.
struct TACMStage {
  HACMSTREAM Stream = nullptr;
  ACMSTREAMHEADER Header;
  std::vector<uint8_t> Source;
  std::vector<uint8_t> Dest;
  uint32_t Leftover = 0;
};

// A conversion through one or more stages. The caller puts up to SourceSize
// bytes at SourceBuffer, converts, and reads Dest from ReadOffset up to
// BytesAvailable, advancing ReadOffset.
struct TACMConvert {
  TACMConvert() = default;
  TACMConvert(const TACMConvert&) = delete;
  TACMConvert& operator=(const TACMConvert&) = delete;
  ~TACMConvert();

  uint8_t* SourceBuffer = nullptr;
  uint32_t SourceSize = 0;
  uint8_t* DestBuffer = nullptr;
  uint32_t DestSize = 0;
  uint32_t BytesAvailable = 0;
  uint32_t ReadOffset = 0;
  bool InputPending = false;
  bool ConsumedWithoutOutput = false;
  std::vector<uint8_t> OwnSource;
  std::vector<std::unique_ptr<TACMStage>> Stages;
};
using PACMConvert = std::unique_ptr<TACMConvert>;

// None when the registry is unavailable, a format is missing, the formats do not
// differ or no chain of streams opens. source_buffer none: the object allocates
// one of 4 x SourceSize.
PACMConvert acmCreateConverter(PWaveFormatEx source, PWaveFormatEx dest, uint8_t* source_buffer,
                               TMMConvertQuality quality, uint32_t buffer_size);
// Converts the next n source bytes through every stage: the bytes now in the
// destination buffer, or -1 on a stream error or without an object.
int64_t acmConvertBytes(TACMConvert* object, uint32_t n);
// The same as the end of the stream: the codecs flush what they hold.
int64_t acmConvertEnd(TACMConvert* object, uint32_t n);
// Discards unread output and leftovers and resets every stream.
void acmResetConverter(TACMConvert* object);
void acmDestroyConverter(PACMConvert& object);

}  // namespace pmx
