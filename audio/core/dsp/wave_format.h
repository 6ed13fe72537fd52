#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/exception.h"
#include "platform/wave_types.h"

namespace pmx {

// Raised for a format record that cannot be measured: no record, a zero channel
// count, rate or block alignment (or a zero byte rate where it divides), or extra
// bytes announced by cbSize that the record does not hold.
class EMMWaveFormatError : public Exception {
 public:
  EMMWaveFormatError();
};

// True when the conversions and the format text can use the record.
bool wfValidFormat(PWaveFormatEx pwfx);

// Bytes the record occupies: 0 without one, 18 for PCM whatever cbSize says,
// else 18 + cbSize. Raises EMMWaveFormatError when the extra bytes are missing.
uint32_t wfGetSize(PWaveFormatEx pwfx);
// An own copy of exactly wfGetSize bytes (cbSize 0 for PCM); none without a record.
std::unique_ptr<WaveFormatEx> wfCopyFormat(PWaveFormatEx pwfx);

// Conversions, rounded to nearest (halves away from zero); the byte results are
// then rounded up to a whole block. Pure: callable from any thread.
int32_t wfBytesToSamples(PWaveFormatEx pwfx, int32_t bytes);
int32_t wfBytesToMs(PWaveFormatEx pwfx, int32_t bytes);
int32_t wfSamplesToBytes(PWaveFormatEx pwfx, int32_t samples);
int32_t wfSamplesToMs(PWaveFormatEx pwfx, int32_t samples);
int32_t wfMsToSamples(PWaveFormatEx pwfx, int32_t ms);
int32_t wfMsToBytes(PWaveFormatEx pwfx, int32_t ms);
// 64-bit forms for positions: the quotient is truncated, not rounded.
int64_t wfSamplesToBytes64(PWaveFormatEx pwfx, int64_t samples);
int64_t wfSamplesToMs64(PWaveFormatEx pwfx, int64_t samples);
// 64-bit forms of wfMsToBytes and wfBytesToMs, rounded as those are: positions
// in a recording pass 2 GiB after a few hours.
int64_t wfMsToBytes64(PWaveFormatEx pwfx, int64_t ms);
int64_t wfBytesToMs64(PWaveFormatEx pwfx, int64_t bytes);

// The name of the record's format tag; "Unknown" without a record or for a tag
// the table does not list.
std::string wfGetFormatName(PWaveFormatEx pwfx);
// One line such as "44.100 kHz, 16 Bit, Stereo" in the user's decimal and list
// separators; "Unknown" without a record. GUI thread.
std::string wfGetFormatString(PWaveFormatEx pwfx);

// The user's separators for the format text. A zero character leaves the one in
// force unchanged.
struct TFormatSeparators {
  char List = ',';
  char Decimal = '.';
};
using TFormatSeparatorSource = std::function<TFormatSeparators()>;
// Where wfGetFormatString reads the separators from on every call; an empty
// source restores the default, the decimal point of the user's numeric locale
// with ";" as list separator when that point is a comma, else ",".
void SetFormatSeparatorSource(TFormatSeparatorSource source);
// The separators the last format text used ("," and "." before the first).
TFormatSeparators FormatSeparators();

}  // namespace pmx
