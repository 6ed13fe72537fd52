#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/riff_io.h"

namespace pmx {

// Result codes of the list operations.
constexpr int RIFFERR_NOERROR = 0;
constexpr int RIFFERR_BADPARAM = 2;
constexpr int RIFFERR_FILEERROR = 3;
constexpr int RIFFERR_NOMEM = 4;

// The INFO ids a "LIST" "INFO" chunk may hold, in the order they are written.
constexpr std::size_t kInfoIdCount = 23;
extern const std::array<uint32_t, kInfoIdCount> kInfoIds;

// One INFO field: its text either inside the raw list as read (offset and length)
// or an own text set in its place.
struct TInfoField {
  uint32_t Offset = 0;  // 0: none
  uint32_t Length = 0;
  std::optional<std::string> Text;
};

// The INFO list of a file: the raw bytes of the list as read, and one field per id
// of kInfoIds in table order. Single-threaded, like the record that owns it.
class TInfoList {
 public:
  // Takes the content of a "LIST" chunk after its form type and finds each known
  // field in it; every step of the walk stays inside raw.
  void Parse(std::vector<uint8_t> raw);
  // The field's text up to its terminating zero; empty when it has none.
  std::string FieldText(std::size_t index) const;
  void SetFieldText(std::size_t index, std::string text);
  bool HasText() const;
  // Writes a "LIST" "INFO" chunk with the fields that have text; nothing without.
  int Write(RiffFile& file) const;
  // Bytes Write adds to the file.
  uint64_t WrittenSize() const;

 private:
  std::vector<uint8_t> raw_;
  std::array<TInfoField, kInfoIdCount> fields_{};
};

// One "DISP" item: its display type and the data that follows the type.
struct TDispItem {
  static constexpr uint32_t CF_TEXT = 1;
  static constexpr uint32_t CF_DIB = 8;
  uint32_t Type = 0;
  std::vector<uint8_t> Data;
};

// The "DISP" chunks of a file, in file order. Single-threaded.
class TDispList {
 public:
  // Takes the content of a "DISP" chunk; one of 4 bytes or less is skipped.
  void AddFromChunk(const std::vector<uint8_t>& content);
  const std::vector<TDispItem>& Items() const { return items_; }
  // Bytes of data the items hold together.
  uint64_t DataBytes() const { return data_bytes_; }
  // Writes one "DISP" chunk per text or bitmap item that has data.
  int Write(RiffFile& file) const;
  uint64_t WrittenSize() const;

 private:
  std::vector<TDispItem> items_;
  uint64_t data_bytes_ = 0;
};

// The bytes of an item as they are written: a text up to and with its terminating
// zero, a packed bitmap as long as its header says (never more than the data holds);
// nothing for other types.
std::vector<uint8_t> DispPayload(const TDispItem& item);

}  // namespace pmx
