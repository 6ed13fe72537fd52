#pragma once

#include <cstdint>

#include "audio/core/objects/mm_types.h"

namespace pmx {

// Everything a transform of N = 2^LogLength real samples needs that depends only
// on N. Read-only once made; each display owns its plan, so displays on different
// threads may transform at the same time with their own plans and buffers.
struct TFFTPlan {
  int32_t LogLength;
  uint32_t FFTSize;  // unsigned so that 2^31 fits
  float InvLength;
  // Bit reversal of LogLength - 1 bits, FFTSize / 2 entries.
  int32_t* BitRevTable;
  // Per entry cos(kt), -sin(kt), cos(3kt), -sin(3kt) of the half-length complex
  // transform, t = 2 pi / (FFTSize / 2).
  float* ComplexTwiddles;
  // Entry k - 1 (k = 1 .. FFTSize / 4): 0.5 cos(2 pi k / N), 0.5 - 0.5 sin(2 pi k / N).
  float* RealTwiddles;
};

using TFFTScale = void (*)(int64_t count, float factor, float* data);
using TFFTBitReverse = void (*)(int bits, const int32_t* table, float* data);
using TFFTInitTwiddles = void (*)(int bits, float* table);
using TFFTTransform = void (*)(int direction, int64_t count, const float* twiddles,
                              float* data);

// The transform's kernels, reached only through this table; written once by
// InitFFTRoutines while the library loads, read-only afterwards.
struct TFFTKernels {
  TFFTScale FFTScale;
  TFFTBitReverse FFTBitReverseComplex;
  TFFTInitTwiddles FFTInitComplexTwiddles;
  TFFTInitTwiddles FFTInitRealTwiddles;
  TFFTTransform FFTSplitRadix;
  TFFTTransform FFTRealPost;
};
extern TFFTKernels FFTKernels;

// Fills FFTKernels; only the first call in a process does anything.
void InitFFTRoutines();

// Window value at position i of a periodic window of length n.
float GetFFTWindowValue(TMMFFTWindow kind, int i, int n);
// Fills 2^bits entries with the window scaled to 0 .. 32767, rounded.
void FillFFTWindow(int32_t* table, TMMFFTWindow kind, int bits);
// Fills 2^bits entries: entry i is i with its lowest bits in reverse order.
void InitBitReverse(int32_t* table, int bits);

// A plan for N = 2^bits, or none for bits outside 1 .. 31. Raises EOutOfMemory
// when memory runs out, keeping nothing.
TFFTPlan* CreateFFTPlan(int bits);
// Frees the plan and its tables (none is fine) and sets the reference to none.
void FreeFFTPlan(TFFTPlan*& plan);

// Transforms N floats in place. Direction +1: X[k] = sum x[n] e^(-2 pi i k n / N)
// for k = 0 .. N/2 - 1 as (re, im) pairs, unscaled, X[0] with im 0, the term at
// N/2 dropped. A negative direction runs the conjugate complex transform and
// scales by 1/N without the real split step. No plan or no data: nothing.
void DoRealFFT(const TFFTPlan* plan, float* data, int direction);

}  // namespace pmx
