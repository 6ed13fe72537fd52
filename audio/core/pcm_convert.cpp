#include "audio/core/pcm_convert.h"

#include <algorithm>
#include <cstring>

#include "audio/core/pcm_support.h"

namespace pmx {

namespace {

// 16 -> 8 by the high byte with its sign bit flipped; 8 -> 16 by the inverse.
constexpr int32_t To8(int32_t s16) { return (s16 + 32768) >> 8; }
constexpr int32_t To16(int32_t u8) { return u8 * 256 - 32768; }

// One destination frame in the destination's sample encoding.
struct Frame {
  int32_t left;
  int32_t right;
};

// Reads one source frame of layout Src and produces one frame of layout Dst.
template <int Src, int Dst>
Frame Fetch(const uint8_t* p) {
  constexpr bool src16 = Src & 4, src2 = Src & 2, dst16 = Dst & 4, dst2 = Dst & 2;
  const auto read = [](const uint8_t* at) -> int32_t {
    if constexpr (src16) return LoadLES16(at);
    return *at;
  };
  const auto convert = [](int32_t v) -> int32_t {
    if constexpr (src16 == dst16) return v;
    if constexpr (src16) return To8(v);
    return To16(v);
  };
  int32_t left = read(p);
  int32_t right = left;
  if constexpr (src2) right = read(p + (src16 ? 2 : 1));
  if constexpr (src2 && !dst2) {
    // The average of unsigned values, so that it rounds the same way for both depths.
    const int32_t bias = src16 ? 32768 : 0;
    left = ((left + bias) + (right + bias)) / 2 - bias;
  }
  return {convert(left), convert(right)};
}

template <int Dst>
uint8_t* Store(uint8_t* q, Frame f) {
  if constexpr (Dst & 4) {
    StoreLE16(q, f.left);
    if constexpr (Dst & 2) StoreLE16(q + 2, f.right);
  } else {
    q[0] = static_cast<uint8_t>(f.left);
    if constexpr (Dst & 2) q[1] = static_cast<uint8_t>(f.right);
  }
  return q + PCMFrameBytes(Dst);
}

struct Rates {
  int64_t source;
  int64_t dest;
};

// Writes frames of count source frames, dropping (source rate above destination) or
// repeating them; returns the destination frames written.
template <int Src, int Dst>
int64_t ConvertFrames(const uint8_t* p, int64_t count, uint8_t* q, Rates r) {
  constexpr int step = PCMFrameBytes(Src);
  uint8_t* const start = q;
  if (r.source > r.dest) {
    int64_t acc = r.source / 2;
    for (int64_t i = 0; i < count; ++i, p += step) {
      acc -= r.dest;
      if (acc < 0) {
        q = Store<Dst>(q, Fetch<Src, Dst>(p));
        acc += r.source;
      }
    }
  } else {
    int64_t acc = r.dest / 2;
    for (int64_t i = 0; i < count; ++i, p += step) {
      const Frame f = Fetch<Src, Dst>(p);
      q = Store<Dst>(q, f);
      for (acc -= r.source; acc >= 0; acc -= r.source) q = Store<Dst>(q, f);
      acc += r.dest;
    }
  }
  return (q - start) / PCMFrameBytes(Dst);
}

using Converter = int64_t (*)(const uint8_t*, int64_t, uint8_t*, Rates);

template <int Src>
constexpr Converter ForSource(int dst) {
  switch (dst) {
    case kPCMMono8:
      return ConvertFrames<Src, kPCMMono8>;
    case kPCMStereo8:
      return ConvertFrames<Src, kPCMStereo8>;
    case kPCMMono16:
      return ConvertFrames<Src, kPCMMono16>;
    default:
      return ConvertFrames<Src, kPCMStereo16>;
  }
}

Converter Select(int src, int dst) {
  switch (src) {
    case kPCMMono8:
      return ForSource<kPCMMono8>(dst);
    case kPCMStereo8:
      return ForSource<kPCMStereo8>(dst);
    case kPCMMono16:
      return ForSource<kPCMMono16>(dst);
    default:
      return ForSource<kPCMStereo16>(dst);
  }
}

}  // namespace

int64_t PCMConvertBits(int dest_bits, std::span<uint8_t> dest, int source_bits,
                       std::span<const uint8_t> source) {
  if ((dest_bits != 8 && dest_bits != 16) || (source_bits != 8 && source_bits != 16)) return -1;
  const auto samples = static_cast<int64_t>(source.size()) / (source_bits / 8);
  const int64_t bytes = samples * (dest_bits / 8);
  if (static_cast<int64_t>(dest.size()) < bytes) return -1;
  // Decoders convert in place, with dest starting where source starts: narrowing
  // runs forwards and widening backwards so that no sample is overwritten unread.
  if (dest_bits == source_bits) {
    std::memmove(dest.data(), source.data(), bytes);
  } else if (dest_bits == 8) {
    for (int64_t i = 0; i < samples; ++i) {
      dest[i] = static_cast<uint8_t>(LoadLES16(&source[2 * i]) / 256 + 128);
    }
  } else {
    for (int64_t i = samples - 1; i >= 0; --i) StoreLE16(&dest[2 * i], To16(source[i]));
  }
  return bytes;
}

int64_t PCMConvertSize(const WaveFormatEx& source_format, const WaveFormatEx& dest_format,
                       int64_t count) {
  const int src = PCMFormatCode(source_format);
  const int dst = PCMFormatCode(dest_format);
  if (src < 0 || dst < 0) return -1;
  const int64_t frames = PCMBytesToFrames(std::max<int64_t>(count, 0), src);
  if (frames == 0) return 0;
  const int64_t written = frames * dest_format.nSamplesPerSec() / source_format.nSamplesPerSec();
  return PCMFramesToBytes(written + 1, dst);
}

int64_t PCMConvert(std::span<const uint8_t> source, const WaveFormatEx& source_format,
                   std::span<uint8_t> dest, const WaveFormatEx& dest_format) {
  if (source.empty()) return 0;
  const auto count = static_cast<int64_t>(source.size());
  const int64_t needed = PCMConvertSize(source_format, dest_format, count);
  if (needed < 0 || static_cast<int64_t>(dest.size()) < needed) return -1;
  const int src = PCMFormatCode(source_format);
  const int dst = PCMFormatCode(dest_format);
  const Rates rates{source_format.nSamplesPerSec(), dest_format.nSamplesPerSec()};
  const int64_t frames =
      Select(src, dst)(source.data(), PCMBytesToFrames(count, src), dest.data(), rates);
  return PCMFramesToBytes(frames, dst);
}

}  // namespace pmx
