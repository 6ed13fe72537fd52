#include "audio/displays/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace pmx {
namespace {

using Plan = std::unique_ptr<TFFTPlan, void (*)(TFFTPlan*)>;

Plan MakePlan(int bits) {
  return Plan(CreateFFTPlan(bits), [](TFFTPlan* p) { FreeFFTPlan(p); });
}

std::vector<float> Transform(const std::vector<float>& samples) {
  const auto plan = MakePlan(static_cast<int>(std::log2(samples.size())));
  std::vector<float> data = samples;
  DoRealFFT(plan.get(), data.data(), 1);
  return data;
}

std::complex<double> Bin(const std::vector<float>& spectrum, size_t k) {
  return {spectrum[2 * k], spectrum[2 * k + 1]};
}

TEST(FFT, MatchesADirectTransformForEveryLengthUpTo4096) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> sample(-1, 1);
  for (int bits = 1; bits <= 12; ++bits) {
    const size_t n = size_t{1} << bits;
    std::vector<float> x(n);
    for (auto& v : x) v = sample(random);
    const auto spectrum = Transform(x);
    for (size_t k = 0; k < n / 2; ++k) {
      std::complex<double> expected;
      for (size_t i = 0; i < n; ++i) expected += double(x[i]) * std::polar(1.0, -2 * M_PI * double(k * i % n) / double(n));
      if (k == 0) expected.imag(0);
      ASSERT_NEAR(std::abs(Bin(spectrum, k) - expected), 0, 1e-4 * double(n)) << "N " << n << " bin " << k;
    }
  }
}

TEST(FFT, ConstantNyquistAndSineInputs) {
  constexpr size_t n = 256;
  std::vector<float> constant(n, 0.25f), nyquist(n), sine(n);
  for (size_t i = 0; i < n; ++i) {
    nyquist[i] = i % 2 ? -0.5f : 0.5f;
    sine[i] = 0.8f * float(std::sin(2 * M_PI * 10 * double(i) / n));
  }
  auto flat = Transform(constant);
  EXPECT_NEAR(flat[0], 0.25 * n, 1e-3);
  EXPECT_EQ(flat[1], 0);
  for (size_t k = 1; k < n / 2; ++k) EXPECT_NEAR(std::abs(Bin(flat, k)), 0, 1e-3);
  auto alternating = Transform(nyquist);
  for (size_t k = 0; k < n / 2; ++k) EXPECT_NEAR(std::abs(Bin(alternating, k)), 0, 1e-3);
  auto tone = Transform(sine);
  EXPECT_NEAR(tone[2 * 10 + 1], -0.8 * n / 2, 1e-2);  // e^(-i) convention
  EXPECT_NEAR(tone[2 * 10], 0, 1e-2);
}

TEST(FFT, EnergyIsKeptAcrossTheTransform) {
  constexpr size_t n = 4096;
  std::mt19937 random(3);
  std::normal_distribution<float> sample(0, 0.3f);
  std::vector<float> x(n);
  double energy = 0, nyquist = 0;
  for (size_t i = 0; i < n; ++i) {
    x[i] = sample(random);
    energy += double(x[i]) * x[i];
    nyquist += i % 2 ? -x[i] : x[i];
  }
  const auto spectrum = Transform(x);
  double spectral = std::norm(Bin(spectrum, 0)) + nyquist * nyquist;
  for (size_t k = 1; k < n / 2; ++k) spectral += 2 * std::norm(Bin(spectrum, k));
  EXPECT_NEAR(spectral / n, energy, energy * 1e-4);
}

// A windowed sine on a whole bin peaks there with the window's coherent gain.
TEST(FFT, WindowedSineLandsInItsBinForEveryWindow) {
  constexpr int bits = 10;
  constexpr int n = 1 << bits;
  constexpr int bin = 100;
  constexpr double amplitude = 20000;
  for (int kind = 0; kind <= 7; ++kind) {
    std::vector<int32_t> window(n);
    FillFFTWindow(window.data(), TMMFFTWindow(kind), bits);
    std::vector<float> x(n);
    double gain = 0;
    for (int i = 0; i < n; ++i) {
      const auto pcm = int16_t(std::lround(amplitude * std::sin(2 * M_PI * bin * i / n)));
      x[i] = float(int64_t{pcm} * window[i] / 32768);
      gain += window[i] / 32768.0;
    }
    const auto spectrum = Transform(x);
    size_t peak = 0;
    for (size_t k = 1; k < n / 2; ++k)
      if (std::abs(Bin(spectrum, k)) > std::abs(Bin(spectrum, peak))) peak = k;
    EXPECT_EQ(peak, size_t{bin}) << "window " << kind;
    EXPECT_NEAR(std::abs(Bin(spectrum, bin)), amplitude / 2 * gain, amplitude / 2 * gain * 0.01)
        << "window " << kind;
  }
}

TEST(FFTWindow, TablesHoldTheScaledPeriodicWindows) {
  std::vector<int32_t> table(16);
  FillFFTWindow(table.data(), TMMFFTWindow::fwHanning, 4);
  EXPECT_EQ(table[0], 0);
  EXPECT_EQ(table[8], 32767);
  EXPECT_EQ(table[4], 16384);  // 0.5 x 32767 + 0.5, floored
  for (auto kind : {TMMFFTWindow::fwRectangular, TMMFFTWindow(7), TMMFFTWindow(-1)}) {
    FillFFTWindow(table.data(), kind, 4);
    for (int32_t v : table) EXPECT_EQ(v, 32767);
  }
  EXPECT_FLOAT_EQ(GetFFTWindowValue(TMMFFTWindow::fwHamming, 0, 16), 0.08f);
  EXPECT_FLOAT_EQ(GetFFTWindowValue(TMMFFTWindow::fwBlackman, 8, 16), 1.0f);
  EXPECT_FLOAT_EQ(GetFFTWindowValue(TMMFFTWindow::fwGaussian, 0, 16), float(std::exp(-5.0)));
  EXPECT_FLOAT_EQ(GetFFTWindowValue(TMMFFTWindow::fwWelch, 0, 16), float(1 - (16.0 / 17) * (16.0 / 17)));
  EXPECT_FLOAT_EQ(GetFFTWindowValue(TMMFFTWindow::fwParzen, 0, 16), float(1 - 16.0 / 17));
}

TEST(FFTPlan, BitCountsOutsideTheRangeGiveNoPlan) {
  EXPECT_EQ(CreateFFTPlan(0), nullptr);
  EXPECT_EQ(CreateFFTPlan(-3), nullptr);
  EXPECT_EQ(CreateFFTPlan(32), nullptr);
  TFFTPlan* plan = CreateFFTPlan(1);
  ASSERT_NE(plan, nullptr);
  EXPECT_EQ(plan->FFTSize, 2u);
  EXPECT_EQ(plan->BitRevTable[0], 0);
  EXPECT_EQ(plan->InvLength, 0.5f);
  float two[2] = {3, 5};
  DoRealFFT(plan, two, 1);
  EXPECT_EQ(two[0], 8);
  EXPECT_EQ(two[1], 0);
  DoRealFFT(nullptr, two, 1);
  DoRealFFT(plan, nullptr, 1);
  EXPECT_EQ(two[0], 8);
  FreeFFTPlan(plan);
  EXPECT_EQ(plan, nullptr);
  FreeFFTPlan(plan);
}

TEST(FFTPlan, BitReversalTableReversesTheLowBits) {
  std::vector<int32_t> table(8);
  InitBitReverse(table.data(), 3);
  EXPECT_EQ(table, (std::vector<int32_t>{0, 4, 2, 6, 1, 5, 3, 7}));
}

}  // namespace
}  // namespace pmx
