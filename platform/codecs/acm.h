#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "platform/mm_result.h"
#include "platform/wave_types.h"

// The in-process codec registry: the compression manager's calls, flags and
// result codes over our own drivers (PCM, A-law, mu-law, IMA ADPCM and the codecs
// whose libraries load). Every call may come from any thread: the driver list is
// built once on first use and never changes; a stream belongs to the thread that
// converts on it.

namespace pmx {

constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;
constexpr MMRESULT ACMERR_CANCELED = 515;

// Version 3.50: high word major.minor.
constexpr uint32_t kAcmVersion = 0x03320000;
uint32_t acmGetVersion();

class AcmDriver;
using HACMDRIVERID = const AcmDriver*;
using HACMDRIVER = const AcmDriver*;
using HACMOBJ = const AcmDriver*;
struct AcmStream;
using HACMSTREAM = AcmStream*;

constexpr uint32_t ACM_METRIC_COUNT_DRIVERS = 1;
constexpr uint32_t ACM_METRIC_COUNT_CODECS = 2;
constexpr uint32_t ACM_METRIC_COUNT_CONVERTERS = 3;
constexpr uint32_t ACM_METRIC_COUNT_FILTERS = 4;
constexpr uint32_t ACM_METRIC_COUNT_DISABLED = 5;
constexpr uint32_t ACM_METRIC_COUNT_HARDWARE = 6;
constexpr uint32_t ACM_METRIC_MAX_SIZE_FORMAT = 50;
constexpr uint32_t ACM_METRIC_MAX_SIZE_FILTER = 51;
// obj: none for the whole registry, or a driver for its own counts.
MMRESULT acmMetrics(HACMOBJ obj, uint32_t metric, uint32_t& value);

constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CODEC = 0x00000001;
constexpr uint32_t ACMDRIVERDETAILS_SUPPORTF_CONVERTER = 0x00000002;
struct ACMDRIVERDETAILS {
  uint32_t fdwSupport = 0;
  uint32_t cFormatTags = 0;
  uint32_t cFilterTags = 0;
  std::string szShortName;
  std::string szLongName;
};
// Return False to stop the enumeration.
using ACMDRIVERENUMCB = std::function<bool(HACMDRIVERID, uint32_t fdwSupport)>;
MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& callback, uint32_t flags);
MMRESULT acmDriverDetails(HACMDRIVERID hadid, ACMDRIVERDETAILS& details, uint32_t flags);
// Drivers need no opening: the handle is the id.
MMRESULT acmDriverOpen(HACMDRIVER* phad, HACMDRIVERID hadid, uint32_t flags);
MMRESULT acmDriverClose(HACMDRIVER had, uint32_t flags);
MMRESULT acmDriverID(HACMOBJ obj, HACMDRIVERID* phadid, uint32_t flags);

constexpr uint32_t ACM_FORMATTAGDETAILSF_INDEX = 0x00000000;
constexpr uint32_t ACM_FORMATTAGDETAILSF_FORMATTAG = 0x00000001;
constexpr uint32_t ACM_FORMATTAGDETAILSF_LARGESTSIZE = 0x00000002;
struct ACMFORMATTAGDETAILS {
  uint32_t dwFormatTagIndex = 0;
  uint32_t dwFormatTag = 0;
  uint32_t cbFormatSize = 0;
  uint32_t fdwSupport = 0;
  uint32_t cStandardFormats = 0;
  std::string szFormatTag;
};
// had: one driver, or none for the first driver that knows the tag.
MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS& details, uint32_t flags);
using ACMFORMATTAGENUMCB =
    std::function<bool(HACMDRIVERID, const ACMFORMATTAGDETAILS&, uint32_t fdwSupport)>;
MMRESULT acmFormatTagEnum(HACMDRIVER had, const ACMFORMATTAGENUMCB& callback, uint32_t flags);

constexpr uint32_t ACM_FORMATDETAILSF_INDEX = 0x00000000;
constexpr uint32_t ACM_FORMATDETAILSF_FORMAT = 0x00000001;
struct ACMFORMATDETAILS {
  uint32_t dwFormatIndex = 0;
  uint32_t dwFormatTag = 0;
  uint32_t fdwSupport = 0;
  WaveFormatEx wfx;  // in for FORMAT, out for INDEX
  std::string szFormat;
};
MMRESULT acmFormatDetails(HACMDRIVER had, ACMFORMATDETAILS& details, uint32_t flags);

constexpr uint32_t ACM_FORMATENUMF_WFORMATTAG = 0x00010000;
constexpr uint32_t ACM_FORMATENUMF_NCHANNELS = 0x00020000;
constexpr uint32_t ACM_FORMATENUMF_NSAMPLESPERSEC = 0x00040000;
constexpr uint32_t ACM_FORMATENUMF_WBITSPERSAMPLE = 0x00080000;
constexpr uint32_t ACM_FORMATENUMF_CONVERT = 0x00100000;
constexpr uint32_t ACM_FORMATENUMF_SUGGEST = 0x00200000;
constexpr uint32_t ACM_FORMATENUMF_HARDWARE = 0x00400000;
constexpr uint32_t ACM_FORMATENUMF_INPUT = 0x00800000;
constexpr uint32_t ACM_FORMATENUMF_OUTPUT = 0x01000000;
using ACMFORMATENUMCB =
    std::function<bool(HACMDRIVERID, const ACMFORMATDETAILS&, uint32_t fdwSupport)>;
// templ.wfx gives the fields the WFORMATTAG/NCHANNELS/NSAMPLESPERSEC/
// WBITSPERSAMPLE flags fix and the format CONVERT and SUGGEST start from.
// INPUT lists the formats a driver can read (convert from), OUTPUT those it can
// write (convert to).
MMRESULT acmFormatEnum(HACMDRIVER had, const ACMFORMATDETAILS& templ,
                       const ACMFORMATENUMCB& callback, uint32_t flags);

constexpr uint32_t ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr uint32_t ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr uint32_t ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr uint32_t ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr uint32_t ACM_FORMATSUGGESTF_TYPEMASK = 0x00FF0000;
// dst holds the fixed fields on entry and the suggestion on success; a suggestion
// that needs more than cbwfxDst bytes is refused. With no tag fixed the
// suggestion is PCM.
MMRESULT acmFormatSuggest(HACMDRIVER had, const WaveFormatEx& src, WaveFormatEx& dst,
                          uint32_t cbwfxDst, uint32_t flags);

constexpr uint32_t ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT = 0x00000040;
struct ACMFORMATCHOOSE {
  uint32_t fdwStyle = 0;
  void* hwndOwner = nullptr;  // the owning widget, or none
  WaveFormatEx* pwfx = nullptr;  // in with INITTOWFXSTRUCT, out on success
  uint32_t cbwfx = 0;  // the most bytes the chosen format may have
  std::string pszTitle;
  std::string szFormatTag;  // out
  std::string szFormat;  // out
  uint32_t fdwEnum = 0;
  const WaveFormatEx* pwfxEnum = nullptr;
};
// The dialog lives with the GUI; it installs itself here. Without one the call
// fails with MMSYSERR_NOTSUPPORTED.
using TAcmFormatChooser = std::function<MMRESULT(ACMFORMATCHOOSE&)>;
void acmSetFormatChooser(TAcmFormatChooser chooser);
MMRESULT acmFormatChoose(ACMFORMATCHOOSE& choose);

// Stream calls.
constexpr uint32_t ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr uint32_t ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr uint32_t ACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr uint32_t ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr uint32_t ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr uint32_t ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr uint32_t ACM_STREAMCONVERTF_START = 0x00000010;
constexpr uint32_t ACM_STREAMCONVERTF_END = 0x00000020;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr uint32_t ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

struct ACMSTREAMHEADER {
  uint32_t cbStruct = 84;
  uint32_t fdwStatus = 0;
  uintptr_t dwUser = 0;
  uint8_t* pbSrc = nullptr;
  uint32_t cbSrcLength = 0;
  uint32_t cbSrcLengthUsed = 0;
  uintptr_t dwSrcUser = 0;
  uint8_t* pbDst = nullptr;
  uint32_t cbDstLength = 0;
  uint32_t cbDstLengthUsed = 0;
  uintptr_t dwDstUser = 0;
};

// With QUERY phas may be none and nothing is opened. A stream that only a
// non-real-time conversion could serve needs NONREALTIME.
MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const WaveFormatEx& src,
                       const WaveFormatEx& dst, uint32_t flags);
MMRESULT acmStreamClose(HACMSTREAM has, uint32_t flags);
// SOURCE: the destination bytes that input bytes may need, one carried step
// included; DESTINATION: the source bytes whose output surely fits.
MMRESULT acmStreamSize(HACMSTREAM has, uint32_t cbInput, uint32_t& cbOutput, uint32_t flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags);
// Synchronous: the header is done on return. Converts whole source blocks; END
// also converts the partial one at the tail and flushes the codec; START resets
// it first. Output that does not fit the destination is kept for the next call.
MMRESULT acmStreamConvert(HACMSTREAM has, ACMSTREAMHEADER& hdr, uint32_t flags);
MMRESULT acmStreamReset(HACMSTREAM has, uint32_t flags);

// Naming and PCM conversion come from the audio core, which installs them
// before any caller needs them: platform code cannot depend on the core, and
// the registry's names must equal the core's format-tag table and format text.
struct TAcmServices {
  std::function<std::string(const WaveFormatEx&)> TagName;
  std::function<std::string(const WaveFormatEx&)> FormatText;
  // As the core's PCM layout and rate conversion: destination bytes or -1.
  std::function<int64_t(std::span<const uint8_t>, const WaveFormatEx&, std::span<uint8_t>,
                        const WaveFormatEx&)>
      PcmConvert;
  std::function<int64_t(const WaveFormatEx&, const WaveFormatEx&, int64_t)> PcmConvertSize;
};
void acmInstallServices(TAcmServices services);

}  // namespace pmx
