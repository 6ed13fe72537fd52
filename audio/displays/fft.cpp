#include "audio/displays/fft.h"

#include <cmath>
#include <utility>

#include "audio/core/objects/utilities.h"

namespace pmx {

TFFTKernels FFTKernels{};

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;

void Scale(int64_t count, float factor, float* data) {
  if (count <= 0 || !data) return;
  for (int64_t i = 0; i < count; ++i) data[i] *= factor;
}

void BitReverseComplex(int bits, const int32_t* table, float* data) {
  if (bits < 0 || bits > 31 || !table || !data) return;
  const int64_t count = int64_t{1} << bits;
  for (int64_t i = 0; i < count; ++i) {
    const int64_t j = table[i];
    if (i < j) {
      std::swap(data[2 * i], data[2 * j]);
      std::swap(data[2 * i + 1], data[2 * j + 1]);
    }
  }
}

// A 2^bits-point split-radix transform uses w^k and w^3k for k below a quarter of
// its length, so one entry holds both.
void InitComplexTwiddles(int bits, float* table) {
  if (bits < 0 || bits > 31 || !table) return;
  const int64_t length = int64_t{1} << bits;
  const double step = kTwoPi / static_cast<double>(length);
  for (int64_t k = 0; k < length / 4; ++k) {
    const double angle = step * static_cast<double>(k);
    float* entry = table + 4 * k;
    entry[0] = static_cast<float>(std::cos(angle));
    entry[1] = static_cast<float>(-std::sin(angle));
    entry[2] = static_cast<float>(std::cos(3 * angle));
    entry[3] = static_cast<float>(-std::sin(3 * angle));
  }
}

// bits is log2 of the complex length M; the angle step is 2 pi / (2 M).
void InitRealTwiddles(int bits, float* table) {
  if (bits < 0 || bits > 30 || !table) return;
  const int64_t quarter = (int64_t{1} << bits) / 2;
  const double step = kTwoPi / static_cast<double>(int64_t{1} << (bits + 1));
  const double step_cos = std::cos(step);
  const double step_sin = std::sin(step);
  double c = step_cos;
  double s = step_sin;
  for (int64_t k = 1; k <= quarter; ++k) {
    table[2 * (k - 1)] = static_cast<float>(0.5 * c);
    table[2 * (k - 1) + 1] = static_cast<float>(0.5 - 0.5 * s);
    const double next_c = c * step_cos - s * step_sin;
    s = s * step_cos + c * step_sin;
    c = next_c;
  }
}

// One decimation-in-frequency split-radix level over a block of length complex
// values, then the three smaller transforms it leaves; results land in
// bit-reversed order. stride turns a position in this block into a table entry.
void SplitBlock(float sign, int64_t length, int64_t stride, const float* twiddles, float* z) {
  if (length < 2) return;
  if (length == 2) {
    const float re = z[0], im = z[1];
    z[0] = re + z[2];
    z[1] = im + z[3];
    z[2] = re - z[2];
    z[3] = im - z[3];
    return;
  }
  const int64_t q = length / 4;
  float* a = z;
  float* b = z + 2 * q;
  float* c = z + 4 * q;
  float* d = z + 6 * q;
  for (int64_t j = 0; j < q; ++j) {
    const float* w = twiddles + 4 * j * stride;
    const float ur = a[2 * j] - c[2 * j], ui = a[2 * j + 1] - c[2 * j + 1];
    const float vr = b[2 * j] - d[2 * j], vi = b[2 * j + 1] - d[2 * j + 1];
    a[2 * j] += c[2 * j];
    a[2 * j + 1] += c[2 * j + 1];
    b[2 * j] += d[2 * j];
    b[2 * j + 1] += d[2 * j + 1];
    // (u -/+ i v) times w^j and (u +/- i v) times w^3j; the inverse conjugates.
    const float pr = ur + sign * vi, pi = ui - sign * vr;
    const float qr = ur - sign * vi, qi = ui + sign * vr;
    const float w1r = w[0], w1i = sign * w[1], w3r = w[2], w3i = sign * w[3];
    c[2 * j] = pr * w1r - pi * w1i;
    c[2 * j + 1] = pr * w1i + pi * w1r;
    d[2 * j] = qr * w3r - qi * w3i;
    d[2 * j + 1] = qr * w3i + qi * w3r;
  }
  SplitBlock(sign, length / 2, stride * 2, twiddles, a);
  SplitBlock(sign, q, stride * 4, twiddles, c);
  SplitBlock(sign, q, stride * 4, twiddles, d);
}

void SplitRadix(int direction, int64_t count, const float* twiddles, float* data) {
  if (count <= 0 || !twiddles || !data) return;
  SplitBlock(direction >= 0 ? 1.0f : -1.0f, count, 1, twiddles, data);
}

void RealPostPair(const float* twiddle, float* slot_k, float* slot_j) {
  const float a = twiddle[0], b = twiddle[1];
  const float rk = slot_k[0], ik = slot_k[1], rj = slot_j[0], ij = slot_j[1];
  const float s = ik + ij;
  const float d = rk - rj;
  const float m = d * b + s * a;
  slot_k[0] = rj + m;
  slot_j[0] = rk - m;
  const float t = s * b - a * d;
  slot_k[1] = t - ij;
  slot_j[1] = t - ik;
}

void RealPost(int direction, int64_t count, const float* twiddles, float* data) {
  if (direction < 0 || count < 2 || !twiddles || !data) return;
  for (int64_t k = 1; k < count / 2; ++k)
    RealPostPair(twiddles + 2 * (k - 1), data + 2 * k, data + 2 * (count - k));
  data[count + 1] = -data[count + 1];
}

int32_t& InitCount() {
  static int32_t count = 0;
  return count;
}

// Fills the kernel table while the library loads, before any display exists.
const bool kRoutinesReady = (InitFFTRoutines(), true);

}  // namespace

void InitFFTRoutines() {
  if (InitCount()++ > 0) return;
  FFTKernels = {Scale, BitReverseComplex, InitComplexTwiddles, InitRealTwiddles, SplitRadix,
                RealPost};
}

float GetFFTWindowValue(TMMFFTWindow kind, int i, int n) {
  const double x = i;
  const double len = n;
  const double phase = kTwoPi * x / len;
  const double d = (2 * x - len) / (len + 1);
  switch (kind) {
    case TMMFFTWindow::fwHamming:
      return static_cast<float>(0.54 - 0.46 * std::cos(phase));
    case TMMFFTWindow::fwHanning:
      return static_cast<float>(0.5 - 0.5 * std::cos(phase));
    case TMMFFTWindow::fwBlackman:
      return static_cast<float>(0.42 - 0.5 * std::cos(phase) + 0.08 * std::cos(2 * phase));
    case TMMFFTWindow::fwGaussian:
      return static_cast<float>(std::exp(-5 * (2 * x - len) * (2 * x - len) / (len * len)));
    case TMMFFTWindow::fwWelch:
      return static_cast<float>(1 - d * d);
    case TMMFFTWindow::fwParzen:
      return static_cast<float>(1 - std::fabs(d));
    default:
      return 1.0f;
  }
}

void FillFFTWindow(int32_t* table, TMMFFTWindow kind, int bits) {
  if (!table || bits < 0 || bits > 30) return;
  const int n = 1 << bits;
  for (int i = 0; i < n; ++i)
    table[i] = static_cast<int32_t>(std::floor(GetFFTWindowValue(kind, i, n) * 32767.0 + 0.5));
}

void InitBitReverse(int32_t* table, int bits) {
  if (!table || bits < 0 || bits > 30) return;
  const int32_t n = int32_t{1} << bits;
  for (int32_t i = 0; i < n; ++i) {
    int32_t r = 0;
    for (int32_t mask = n / 2; mask > 0; mask /= 2) r = r / 2 + ((i & mask) ? n / 2 : 0);
    table[i] = r;
  }
}

TFFTPlan* CreateFFTPlan(int bits) {
  if (bits < 1 || bits > 31) return nullptr;
  auto* plan = static_cast<TFFTPlan*>(GlobalAllocMem(sizeof(TFFTPlan)));
  try {
    const int64_t size = int64_t{1} << bits;
    plan->LogLength = bits;
    plan->FFTSize = static_cast<uint32_t>(size);
    plan->InvLength = static_cast<float>(1.0 / static_cast<double>(size));
    plan->BitRevTable = static_cast<int32_t*>(GlobalAllocMem((size / 2) * sizeof(int32_t)));
    InitBitReverse(plan->BitRevTable, bits - 1);
    plan->ComplexTwiddles = static_cast<float*>(GlobalAllocMem((size / 4) * 8));
    FFTKernels.FFTInitComplexTwiddles(bits - 1, plan->ComplexTwiddles);
    plan->RealTwiddles = static_cast<float*>(GlobalAllocMem((size / 4) * 8));
    FFTKernels.FFTInitRealTwiddles(bits - 1, plan->RealTwiddles);
  } catch (...) {
    FreeFFTPlan(plan);
    throw;
  }
  return plan;
}

void FreeFFTPlan(TFFTPlan*& plan) {
  if (!plan) return;
  GlobalFreeMem(plan->BitRevTable);
  GlobalFreeMem(plan->ComplexTwiddles);
  GlobalFreeMem(plan->RealTwiddles);
  GlobalFreeMem(plan);
}

void DoRealFFT(const TFFTPlan* plan, float* data, int direction) {
  if (!plan || !data) return;
  direction = direction < -1 ? -1 : (direction > 1 ? 1 : direction);
  const int64_t half = plan->FFTSize / 2;
  FFTKernels.FFTSplitRadix(direction, half, plan->ComplexTwiddles, data);
  FFTKernels.FFTBitReverseComplex(plan->LogLength - 1, plan->BitRevTable, data);
  data[0] += data[1];
  data[1] = 0;
  FFTKernels.FFTRealPost(direction, half, plan->RealTwiddles, data);
  if (direction < 0) FFTKernels.FFTScale(plan->FFTSize, plan->InvLength, data);
}

}  // namespace pmx
