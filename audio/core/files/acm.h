#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "audio/core/objects/objects.h"
#include "platform/codecs/acm.h"
#include "platform/exception.h"
#include "platform/wave_types.h"

namespace pmx {

class TMMCustomWaveFile;

class EMMACMError : public Exception {
 public:
  using Exception::Exception;
};

enum TMMACMEnumFormats { efAll, efInput, efOutput, efConvert, efSuggest, efRestrict };

// Event types of the unit; the component does not fire them.
using TMMACMCodecEnum = std::function<void(TObject* sender, HACMDRIVERID driver, bool& more)>;
using TMMACMFormatEnum =
    std::function<void(TObject* sender, const ACMFORMATDETAILS& details, bool& more)>;

// Lets the user pick a wave format in the codec registry's chooser and keeps it
// in a buffer of its own; describes formats by tag name and format text.
// GUI thread only.
class TMMACM : public TMMNonVisualComponent {
 public:
  explicit TMMACM(TComponent* owner = nullptr);
  ~TMMACM() override;

  bool ACMPresent() const { return acm_present_; }
  void SetACMPresent(bool) {}
  int NumDrivers() const { return num_drivers_; }
  int NumCodecs() const { return num_codecs_; }
  int NumConverters() const { return num_converters_; }
  int NumFilters() const { return num_filters_; }
  void SetNumDrivers(int) {}
  void SetNumCodecs(int) {}
  void SetNumConverters(int) {}
  void SetNumFilters(int) {}

  TMMACMEnumFormats EnumFormats() const { return enum_formats_; }
  void SetEnumFormats(TMMACMEnumFormats value) { enum_formats_ = value; }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string value) { title_ = std::move(value); }
  // The wave-file component the program reads formats from; cleared when it goes.
  TMMCustomWaveFile* Source() const { return source_; }
  void SetSource(TMMCustomWaveFile* value);

  TMMACMCodecEnum OnCodecEnum;
  TMMACMFormatEnum OnFormatEnum;

  // The current format: zero-filled until one is set or chosen; none without
  // the registry.
  PWaveFormatEx PWaveFormat() const { return acm_present_ ? &format_ : nullptr; }
  // Keeps a copy of a complete format that a driver accepts and that fits the
  // buffer; anything else raises EMMACMError and keeps the format held before.
  void SetFormat(PWaveFormatEx format);

  // False (strings untouched) without a format.
  bool GetFormatDescription(PWaveFormatEx format, std::string& tag_name,
                            std::string& format_text) const;
  // Shows the chooser, starting from format when given. True when the user
  // accepted (the choice is the current format), False when cancelled or
  // without the registry; a chooser that fails twice raises EMMACMError.
  bool ChooseFormat(PWaveFormatEx format, const std::string& title);

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void Probe();
  uint32_t Metric(uint32_t metric) const;

  bool acm_present_ = false;
  int num_drivers_ = 0;
  int num_codecs_ = 0;
  int num_converters_ = 0;
  int num_filters_ = 0;
  uint32_t max_format_size_ = 0;
  uint32_t max_filter_size_ = 0;
  TMMACMEnumFormats enum_formats_ = efAll;
  std::string title_;
  TMMCustomWaveFile* source_ = nullptr;
  WaveFormatEx format_;
};

}  // namespace pmx
