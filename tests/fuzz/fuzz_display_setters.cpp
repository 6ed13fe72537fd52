// The frequency and waveform displays driven through their setters, sizes,
// formats, feeds and paints in random order with random values: no value may
// hang a display, overflow its arithmetic or leave it unable to draw and be fed.
#include <fuzzer/FuzzedDataProvider.h>

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <bit>
#include <climits>
#include <cstdlib>
#include <functional>
#include <type_traits>
#include <vector>

#include "audio/core/objects/shared_timer.h"
#include "audio/displays/light.h"
#include "audio/displays/oscope.h"
#include "audio/displays/spectrogram.h"
#include "audio/displays/spectrum.h"
#include "tests/fuzz/fuzz_support.h"

namespace pmx {
namespace {

using fuzz::Check;

// Values for the setters: mostly near their ranges, sometimes anything, and the
// numbers whose products wrap in 32 bits.
class Values {
 public:
  explicit Values(FuzzedDataProvider& in) : in_(in) {}

  int Int() {
    switch (in_.ConsumeIntegralInRange(0, 3)) {
      case 0:
        return in_.ConsumeIntegralInRange(-16, 128);
      case 1:
        return in_.ConsumeIntegralInRange(-200000, 200000);
      case 2:
        return in_.PickValueInArray(
            {INT_MIN, INT_MAX, -1, 0, INT_MAX / 2 + 1, 0x55555556, INT_MAX / 4 + 1, INT_MAX / 8 + 1});
      default:
        return in_.ConsumeIntegral<int>();
    }
  }
  bool Bool() { return in_.ConsumeBool(); }
  template <class E>
  E Enum(int count) {
    return static_cast<E>(in_.ConsumeIntegralInRange(0, count - 1));
  }
  // Any bit pattern: infinities, not-a-numbers and the huge and tiny ones too.
  float Float() { return std::bit_cast<float>(in_.ConsumeIntegral<uint32_t>()); }
  // A size on a screen; larger ones only cost memory.
  int Size() { return in_.ConsumeIntegralInRange(-8, 800); }
  TColor Color() { return in_.ConsumeIntegral<uint32_t>() & 0xFFFFFF; }
  WaveFormatEx Format() {
    WaveFormatEx format = WaveFormatEx::Pcm(in_.PickValueInArray({4000u, 8000u, 11025u, 44100u, 100000u}),
                                            in_.PickValueInArray({8, 16}),
                                            in_.PickValueInArray({1, 2, 4}));
    if (in_.ConsumeBool()) format.set_nSamplesPerSec(in_.ConsumeIntegral<uint32_t>());
    if (in_.ConsumeBool()) format.set_nChannels(in_.ConsumeIntegral<uint16_t>());
    if (in_.ConsumeBool()) format.set_wBitsPerSample(in_.ConsumeIntegral<uint16_t>());
    if (in_.ConsumeBool()) format.set_wFormatTag(in_.ConsumeIntegral<uint16_t>());
    return format;
  }
  // A feed block of n bytes: the input's next bytes, repeated.
  std::vector<uint8_t> Block(int n) {
    std::vector<uint8_t> pattern = in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange(1, 64));
    if (pattern.empty()) pattern.push_back(0);
    std::vector<uint8_t> block(static_cast<size_t>(n));
    for (size_t i = 0; i < block.size(); ++i) block[i] = pattern[i % pattern.size()];
    return block;
  }

 private:
  FuzzedDataProvider& in_;
};

template <class D>
using Op = std::function<void(D&, Values&)>;

// What the displays share: bounds, bevel, format, feed, reset, paint and mouse,
// the layout of the PCM they read, and what those that have them share further.
template <class D>
std::vector<Op<D>> SharedOps() {
  std::vector<Op<D>> ops = {
      [](D& d, Values& v) { d.SetBounds(v.Size(), v.Size(), v.Size(), v.Size()); },
      [](D& d, Values& v) { d.Bevel()->SetBevelOuterWidth(v.Size() / 16); },
      [](D& d, Values& v) { d.Bevel()->SetBorderWidth(v.Size() / 16); },
      [](D& d, Values& v) { d.SetColor(v.Color()); },
      [](D& d, Values& v) {
        const WaveFormatEx format = v.Format();
        d.SetPCMWaveFormat(&format);
      },
      [](D& d, Values& v) {
        const int bytes = d.BytesPerRefresh();
        Check(bytes > 0, "a display asks for bytes to refresh from");
        d.RefreshPCMData(v.Block(bytes).data());
      },
      [](D& d, Values&) { d.ResetData(); },
      [](D& d, Values&) { d.grab(); },
      // The read-out and the selection follow the mouse.
      [](D& d, Values& v) {
        const auto type = v.Enum<int>(3);
        const QPointF at(v.Size(), v.Size());
        const Qt::MouseButton button = v.Bool() ? Qt::LeftButton : Qt::RightButton;
        QMouseEvent event(type == 0 ? QEvent::MouseButtonPress
                                    : type == 1 ? QEvent::MouseMove : QEvent::MouseButtonRelease,
                          at, at, type == 1 ? Qt::NoButton : button,
                          type == 2 ? Qt::MouseButtons() : Qt::MouseButtons(button), Qt::NoModifier);
        QApplication::sendEvent(&d, &event);
      },
      [](D& d, Values& v) { d.SetFFTLength(v.Int()); },
      [](D& d, Values& v) { d.SetSampleRate(v.Int()); },
      [](D& d, Values& v) { d.SetBitLength(v.Enum<TMMBits>(2)); },
      [](D& d, Values& v) { d.SetMode(v.Enum<TMMMode>(3)); },
      [](D& d, Values& v) { d.SetChannel(v.Enum<TMMChannel>(3)); },
  };
  if constexpr (requires(D& d) { d.SetWindow(TMMFFTWindow{}); }) {
    ops.push_back([](D& d, Values& v) { d.SetWindow(v.Enum<TMMFFTWindow>(7)); });
  }
  if constexpr (requires(D& d) { d.SetDecay(0); }) {
    ops.push_back([](D& d, Values& v) { d.SetDecayMode(v.Enum<TMMDecayMode>(4)); });
    ops.push_back([](D& d, Values& v) { d.SetDecay(v.Int()); });
  }
  if constexpr (std::is_base_of_v<TMMScanDisplay, D>) {
    ops.push_back([](D& d, Values& v) { d.SetScroll(v.Bool()); });
    ops.push_back([](D& d, Values& v) { d.SetAccelerate(v.Bool()); });
    ops.push_back([](D& d, Values& v) { d.SetBarWidth(v.Int()); });
    ops.push_back([](D& d, Values& v) { d.Selecting(v.Int(), v.Int()); });
  }
  return ops;
}

// A display's own operations after the shared ones.
template <class D>
std::vector<Op<D>> WithShared(std::vector<Op<D>> own) {
  std::vector<Op<D>> ops = SharedOps<D>();
  ops.insert(ops.end(), own.begin(), own.end());
  return ops;
}

std::vector<Op<TMMSpectrum>> SpectrumOps() {
  using S = TMMSpectrum;
  return WithShared<S>({
      [](S& d, Values& v) { d.SetKind(v.Enum<TMMSpectrumKind>(6)); },
      [](S& d, Values& v) { d.SetGain(v.Enum<TMMSpectrumGain>(5)); },
      [](S& d, Values& v) { d.SetRefFreq(v.Int()); },
      [](S& d, Values& v) { d.SetLogFreq(v.Bool()); },
      [](S& d, Values& v) { d.SetLogAmp(v.Bool()); },
      [](S& d, Values& v) { d.SetVerticalScale(v.Int()); },
      [](S& d, Values& v) { d.SetFrequencyScale(v.Int()); },
      [](S& d, Values& v) { d.SetNumPeaks(v.Int()); },
      [](S& d, Values& v) { d.SetPeakDelay(v.Int()); },
      [](S& d, Values& v) { d.SetPeakSpeed(v.Int()); },
      [](S& d, Values&) { d.PeakTimer(); },
      [](S& d, Values& v) { d.SetDisplayPeak(v.Bool()); },
      [](S& d, Values& v) { d.SetSpace(v.Int()); },
      [](S& d, Values& v) { d.SetSpotSpace(v.Int()); },
      [](S& d, Values& v) { d.SetSpotHeight(v.Int()); },
      [](S& d, Values& v) { d.SetPoint1(v.Int()); },
      [](S& d, Values& v) { d.SetPoint2(v.Int()); },
      [](S& d, Values& v) { d.SetColors(v.Enum<S::ColorIndex>(S::kColorCount), v.Color()); },
      [](S& d, Values& v) { d.SetDrawInactive(v.Bool()); },
      [](S& d, Values& v) { d.SetInactiveDoted(v.Bool()); },
      [](S& d, Values& v) { d.SetActiveDoted(v.Bool()); },
      [](S& d, Values& v) { d.SetDrawGrid(v.Bool()); },
      [](S& d, Values& v) { d.SetDrawFreqScale(v.Bool()); },
      [](S& d, Values& v) { d.SetDrawAmpScale(v.Bool()); },
      [](S& d, Values& v) { d.SetBitsPerPixel(v.Bool() ? 8 : 24); },
  });
}

std::vector<Op<TMMOscope>> OscopeOps() {
  using O = TMMOscope;
  return WithShared<O>({
      [](O& d, Values& v) { d.SetKind(v.Enum<TMMOscopeKind>(5)); },
      [](O& d, Values& v) { d.SetEffect(v.Enum<TMMOscopeEffect>(3)); },
      [](O& d, Values& v) { d.SetSteps(v.Int()); },
      [](O& d, Values& v) { d.SetZoom(v.Int()); },
      [](O& d, Values& v) { d.SetGain(v.Int()); },
      [](O& d, Values& v) { d.SetDrawAmpScale(v.Bool()); },
      [](O& d, Values& v) { d.SetDrawTimeScale(v.Bool()); },
      [](O& d, Values& v) { d.SetDrawGrid(v.Bool()); },
      [](O& d, Values& v) { d.SetDrawMidLine(v.Bool()); },
      [](O& d, Values& v) { d.SetLowPass(v.Bool()); },
  });
}

std::vector<Op<TMMLight>> LightOps() {
  using L = TMMLight;
  return WithShared<L>({
      [](L& d, Values& v) { d.SetEnabled(v.Bool()); },
      [](L& d, Values& v) { d.SetKind(v.Enum<TMMLightKind>(2)); },
      [](L& d, Values& v) { d.SetArrange(v.Enum<TMMLightArrange>(2)); },
      [](L& d, Values& v) { d.SetTriangleDist(v.Int()); },
      [](L& d, Values& v) { d.SetSphereHorz(v.Float()); },
      [](L& d, Values& v) { d.SetSphereVert(v.Float()); },
      [](L& d, Values& v) { d.SetZoneCount(v.Int()); },
      [](L& d, Values& v) { d.SetPeakMode(v.Enum<TMMLightPeakMode>(3)); },
      [](L& d, Values& v) { d.SetAmplitudeScale(v.Int()); },
      [](L& d, Values& v) { d.SetBandGain(v.Enum<int>(3), v.Int()); },
  });
}

std::vector<Op<TMMSpectrogram>> SpectrogramOps() {
  using G = TMMSpectrogram;
  return WithShared<G>({
      [](G& d, Values& v) { d.SetGain(v.Enum<TMMSpectrogramGain>(3)); },
      [](G& d, Values& v) { d.SetLogAmp(v.Bool()); },
      [](G& d, Values& v) { d.SetAmplitudeScale(v.Int()); },
      [](G& d, Values& v) { d.SetSensitivy(v.Int()); },
      [](G& d, Values& v) { d.SetFrequencyBase(v.Int()); },
      [](G& d, Values& v) { d.SetFrequencyScale(v.Int()); },
      [](G& d, Values& v) { d.SetPaletteTyp(v.Enum<TMMSpectrogramPalette>(8)); },
      [](G& d, Values& v) { d.SetEmbossed(v.Bool()); },
      [](G& d, Values& v) { d.SetDrawScale(v.Bool()); },
  });
}

// Runs one of the display's operations; a refusal (a display's or the canvas's
// exception) is an answer, and the display must go on working after it.
template <class D>
void Step(D& display, const std::vector<Op<D>>& ops, FuzzedDataProvider& in, Values& values) {
  const auto& op = ops[in.ConsumeIntegralInRange<size_t>(0, ops.size() - 1)];
  try {
    op(display, values);
  } catch (const Exception&) {
  }
}

}  // namespace
}  // namespace pmx

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  // Kept to the end: destroyed among the exit handlers it would outlive its devices.
  new QApplication(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pmx;
  static const auto spectrum_ops = SpectrumOps();
  static const auto oscope_ops = OscopeOps();
  static const auto light_ops = LightOps();
  static const auto spectrogram_ops = SpectrogramOps();
  FuzzedDataProvider in(data, size);
  Values values(in);
  QWidget window;
  TMMSpectrum spectrum(nullptr, &window);
  MMTimerSuspendClient(spectrum.PeakTimerClient());  // its ticks are an operation here
  TMMOscope oscope(nullptr, &window);
  TMMLight light(nullptr, &window);
  TMMSpectrogram spectrogram(nullptr, &window);
  for (int step = 0; step < 200 && in.remaining_bytes() > 0; ++step) {
    switch (in.ConsumeIntegralInRange(0, 3)) {
      case 0:
        Step(spectrum, spectrum_ops, in, values);
        break;
      case 1:
        Step(oscope, oscope_ops, in, values);
        break;
      case 2:
        Step(light, light_ops, in, values);
        break;
      default:
        Step(spectrogram, spectrogram_ops, in, values);
    }
  }
  QApplication::processEvents();
  return 0;
}
