#include "audio/core/dsp/wave_format.h"

#include <langinfo.h>
#include <locale.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <utility>

#include "audio/core/objects/mm_strings.h"
#include "audio/core/objects/mul_div.h"

namespace pmx {
namespace {

struct TagName {
  uint16_t tag;
  const char* name;
};

// Searched from the top; the first matching row wins (17 is "IMA ADPCM").
constexpr TagName kTagNames[] = {
    {0, "Unknown"},
    {1, "PCM"},
    {524, "PCM 32"},
    {2, "Microsoft ADPCM"},
    {3, "Mediavision's ADPCM"},
    {5, "IBM CVSD"},
    {6, "CCITT A-Law"},
    {7, "CCITT mu-Law"},
    {16, "OKI ADPCM"},
    {17, "IMA ADPCM"},
    {17, "DVI ADPCM"},
    {18, "Mediaspace's ADPCM"},
    {19, "Sierra's ADPCM"},
    {20, "CCITT G.723 ADPCM"},
    {21, "Digisound DIGISTD"},
    {22, "Digisound DIGIFIX"},
    {23, "Dialogic OKI ADPCM"},
    {32, "Yamaha ADPCM"},
    {33, "Sonarc"},
    {34, "DSP Group's Truespeech"},
    {35, "Echo SC1"},
    {36, "Audiofile AF36"},
    {37, "Audio Processing Technology"},
    {38, "Audiofile AF10"},
    {48, "Dolby AC2"},
    {521, "Dolby AC2"},
    {49, "GSM 6.10"},
    {51, "Antex ADPCME"},
    {57, "CS IMA ADPCM"},
    {64, "CCITT G.721 ADPCM"},
    {80, "MPEG 1"},
    {85, "MPEG Layer-3"},
    {512, "Creative's ADPCM"},
    {4097, "Olivetti's ADPCM"},
    {516, "CDI-C"},
    {517, "CDI-B"},
    {518, "Antex-DVI-OKI ADPCME"},
    {65535, "*DEVELOPMENT ONLY TAG*"},
};

const char* const kUnknown = "Unknown";

// Validates a record before anything divides by its fields.
const WaveFormatEx& Measurable(PWaveFormatEx pwfx) {
  if (!wfValidFormat(pwfx)) throw EMMWaveFormatError();
  return *pwfx;
}

// The same for the conversions that divide by the byte rate.
const WaveFormatEx& ByteRated(PWaveFormatEx pwfx) {
  const WaveFormatEx& f = Measurable(pwfx);
  if (f.nAvgBytesPerSec() == 0) throw EMMWaveFormatError();
  return f;
}

int32_t RoundUpToBlock(int32_t bytes, uint16_t block_align) {
  const uint32_t a = block_align;
  return static_cast<int32_t>((static_cast<uint32_t>(bytes) + a - 1) / a * a);
}

int64_t RoundUpToBlock64(int64_t bytes, uint16_t block_align) {
  const uint64_t a = block_align;
  return static_cast<int64_t>((static_cast<uint64_t>(bytes) + a - 1) / a * a);
}

int32_t Signed(uint32_t v) { return static_cast<int32_t>(v); }

// a x b / c with halves rounded away from zero, as MulDivRound, in 64 bits.
int64_t MulDivRound64(int64_t a, int64_t b, int64_t c) {
  const __int128 product = static_cast<__int128>(a) * b;
  const __int128 q = product / c;
  const __int128 r = product % c;
  return static_cast<int64_t>(q + (2 * r) / c);
}

// The user's numeric locale: its decimal point, and the list separator that goes
// with it (a comma cannot separate list items when it is the decimal point).
TFormatSeparators LocaleSeparators() {
  TFormatSeparators result{0, 0};
  locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (user == static_cast<locale_t>(0)) return result;
  const char* point = nl_langinfo_l(RADIXCHAR, user);
  if (point && point[0] != 0 && static_cast<unsigned char>(point[0]) < 0x80 && point[1] == 0) {
    result.Decimal = point[0];
    result.List = point[0] == ',' ? ';' : ',';
  }
  freelocale(user);
  return result;
}

struct SeparatorState {
  std::mutex mutex;  // guards source
  TFormatSeparatorSource source;
  std::atomic<char> list{','};
  std::atomic<char> decimal{'.'};
};

SeparatorState& Separators() {
  static SeparatorState state;
  return state;
}

TFormatSeparators RefreshSeparators() {
  SeparatorState& state = Separators();
  TFormatSeparators fresh;
  {
    std::lock_guard lock(state.mutex);
    fresh = state.source ? state.source() : LocaleSeparators();
  }
  if (fresh.List != 0) state.list.store(fresh.List);
  if (fresh.Decimal != 0) state.decimal.store(fresh.Decimal);
  return FormatSeparators();
}

}  // namespace

EMMWaveFormatError::EMMWaveFormatError() : Exception(LoadMMResString(SInvalidWaveFormat)) {}

bool wfValidFormat(PWaveFormatEx pwfx) {
  return pwfx && pwfx->nChannels() != 0 && pwfx->nSamplesPerSec() != 0 &&
         pwfx->nBlockAlign() != 0 && pwfx->ExtraComplete();
}

uint32_t wfGetSize(PWaveFormatEx pwfx) {
  if (!pwfx) return 0;
  if (pwfx->wFormatTag() == WAVE_FORMAT_PCM) return WaveFormatEx::kHeaderSize;
  if (!pwfx->ExtraComplete()) throw EMMWaveFormatError();
  return WaveFormatEx::kHeaderSize + pwfx->cbSize();
}

std::unique_ptr<WaveFormatEx> wfCopyFormat(PWaveFormatEx pwfx) {
  const uint32_t size = wfGetSize(pwfx);
  if (size == 0) return nullptr;
  auto copy = std::make_unique<WaveFormatEx>(WaveFormatEx::FromBytes(pwfx->Bytes().first(size)));
  if (copy->wFormatTag() == WAVE_FORMAT_PCM) copy->set_cbSize(0);
  return copy;
}

int32_t wfBytesToSamples(PWaveFormatEx pwfx, int32_t bytes) {
  const WaveFormatEx& f = ByteRated(pwfx);
  return MulDivRound(bytes, Signed(f.nSamplesPerSec()), Signed(f.nAvgBytesPerSec()));
}

int32_t wfBytesToMs(PWaveFormatEx pwfx, int32_t bytes) {
  const WaveFormatEx& f = ByteRated(pwfx);
  return MulDivRound(bytes, 1000, Signed(f.nAvgBytesPerSec()));
}

int32_t wfSamplesToBytes(PWaveFormatEx pwfx, int32_t samples) {
  const WaveFormatEx& f = Measurable(pwfx);
  const int32_t bytes =
      MulDivRound(samples, Signed(f.nAvgBytesPerSec()), Signed(f.nSamplesPerSec()));
  return RoundUpToBlock(bytes, f.nBlockAlign());
}

int32_t wfSamplesToMs(PWaveFormatEx pwfx, int32_t samples) {
  const WaveFormatEx& f = Measurable(pwfx);
  return MulDivRound(samples, 1000, Signed(f.nSamplesPerSec()));
}

int32_t wfMsToSamples(PWaveFormatEx pwfx, int32_t ms) {
  const WaveFormatEx& f = Measurable(pwfx);
  return MulDivRound(ms, Signed(f.nSamplesPerSec()), 1000);
}

int32_t wfMsToBytes(PWaveFormatEx pwfx, int32_t ms) {
  const WaveFormatEx& f = Measurable(pwfx);
  return RoundUpToBlock(MulDivRound(ms, Signed(f.nAvgBytesPerSec()), 1000), f.nBlockAlign());
}

int64_t wfSamplesToBytes64(PWaveFormatEx pwfx, int64_t samples) {
  const WaveFormatEx& f = Measurable(pwfx);
  const int64_t bytes = MulDiv64(samples, f.nAvgBytesPerSec(), f.nSamplesPerSec());
  return RoundUpToBlock64(bytes, f.nBlockAlign());
}

int64_t wfSamplesToMs64(PWaveFormatEx pwfx, int64_t samples) {
  const WaveFormatEx& f = Measurable(pwfx);
  return MulDiv64(samples, 1000, f.nSamplesPerSec());
}

int64_t wfMsToBytes64(PWaveFormatEx pwfx, int64_t ms) {
  const WaveFormatEx& f = Measurable(pwfx);
  return RoundUpToBlock64(MulDivRound64(ms, f.nAvgBytesPerSec(), 1000), f.nBlockAlign());
}

int64_t wfBytesToMs64(PWaveFormatEx pwfx, int64_t bytes) {
  const WaveFormatEx& f = ByteRated(pwfx);
  return MulDivRound64(bytes, 1000, f.nAvgBytesPerSec());
}

std::string wfGetFormatName(PWaveFormatEx pwfx) {
  if (!pwfx) return kUnknown;
  for (const TagName& row : kTagNames) {
    if (row.tag == pwfx->wFormatTag()) return row.name;
  }
  return kUnknown;
}

std::string wfGetFormatString(PWaveFormatEx pwfx) {
  if (!pwfx) return kUnknown;
  const WaveFormatEx& f = Measurable(pwfx);
  const TFormatSeparators sep = RefreshSeparators();
  const char list[2] = {sep.List, 0};
  const char decimal[2] = {sep.Decimal, 0};
  const uint32_t rate = f.nSamplesPerSec();
  // For a compressed format this is the average bits per sample and channel.
  const auto bits = static_cast<uint16_t>(f.nAvgBytesPerSec() * 8u / rate / f.nChannels());
  char text[96];
  if (f.nChannels() <= 2) {
    std::snprintf(text, sizeof text, "%u%s%.03u kHz%s %u Bit%s %s", rate / 1000, decimal,
                  rate % 1000, list, bits, list, f.nChannels() == 1 ? "Mono" : "Stereo");
  } else {
    std::snprintf(text, sizeof text, "%u%s%.03u kHz%s %u Bit%s %u Channels", rate / 1000, decimal,
                  rate % 1000, list, bits, list, static_cast<unsigned>(f.nChannels()));
  }
  return text;
}

void SetFormatSeparatorSource(TFormatSeparatorSource source) {
  SeparatorState& state = Separators();
  std::lock_guard lock(state.mutex);
  state.source = std::move(source);
}

TFormatSeparators FormatSeparators() {
  const SeparatorState& state = Separators();
  return TFormatSeparators{state.list.load(), state.decimal.load()};
}

}  // namespace pmx
