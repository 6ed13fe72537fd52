#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "audio/streaming/au_tags.h"

namespace pmx {

// Index into the 148 ID3v1 genre names.
using TId3v1TagsGenreId = int;

// The 128-byte ID3v1 trailer at the end of a file. Single-threaded.
class TId3v1Tags : public TAuTags {
 public:
  TId3v1Tags();

  std::string Title() const { return AsString("title"); }
  void SetTitle(const std::string& v) { SetValue("title", v); }
  // Text values only; anything else reads as empty.
  std::string Artist() const;
  void SetArtist(const std::string& v) { SetValue("artist", v); }
  std::string Album() const { return AsString("album"); }
  void SetAlbum(const std::string& v) { SetValue("album", v); }
  std::string Comment() const { return AsString("comment"); }
  void SetComment(const std::string& v) { SetValue("comment", v); }
  uint16_t Year() const { return static_cast<uint16_t>(AsInteger("year")); }
  void SetYear(uint16_t v) { SetValue("year", int{v}); }
  uint8_t Track() const { return static_cast<uint8_t>(AsInteger("track")); }
  void SetTrack(uint8_t v) { SetValue("track", int{v}); }

  // Ids outside the table read as 12, "Other".
  TId3v1TagsGenreId GenreId() const;
  void SetGenreId(TId3v1TagsGenreId v) { SetValue("genre", v); }
  std::string Genre() const;
  // Takes the first genre name equal to the trimmed text without regard to case;
  // an unknown name changes nothing.
  void SetGenre(std::string_view name);

  // The file position is left as it was.
  bool DetectTag(TAuHandle handle) override;
  bool ReadFromFile(TAuHandle handle) override;
  // Appends a trailer; an existing one stays in place. A failed write takes the
  // file back to its former length.
  bool WriteToFile(TAuHandle handle) override;
};

}  // namespace pmx
