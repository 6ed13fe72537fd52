#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "audio/core/objects/component.h"
#include "audio/streaming/wide_text.h"

namespace pmx {

// One tag value: empty, an integer, 8-bit text or wide text.
using TAuTagValue = std::variant<std::monostate, int, std::string, WideString>;

// An open file descriptor; -1 = none.
using TAuHandle = int;
inline constexpr TAuHandle kNoHandle = -1;

// A fixed set of keys, chosen by the tag class when it is created, each holding
// one value. Keys compare without regard to ASCII case. Single-threaded.
class TAuTags : public TObject {
 public:
  int Count() const { return static_cast<int>(entries_.size()); }
  // Keys in sorted order; empty outside 0..Count-1.
  std::string NameAt(int index) const;

  // Empty for an unknown key.
  TAuTagValue GetValue(std::string_view name) const;
  // Unknown keys and values equal to the stored one change nothing.
  void SetValue(std::string_view name, const TAuTagValue& value);

  // Integers as they are, text that reads as a decimal integer, else 0.
  int AsInteger(std::string_view name) const;
  // Integers in decimal, text as it is, else empty.
  std::string AsString(std::string_view name) const;
  WideString AsWideString(std::string_view name) const;

  void Clear();
  // Clears, then takes the source's values of the keys this set also has.
  void Assign(const TAuTags& source);

  bool Empty() const { return empty_; }
  bool Changed() const { return changed_; }

  virtual bool DetectTag(TAuHandle handle);
  // Clears the values; False without a file.
  virtual bool ReadFromFile(TAuHandle handle);
  virtual bool WriteToFile(TAuHandle handle);

 protected:
  // Registers a key with its first value unless present; a null name does nothing.
  void AddKey(const char* name, TAuTagValue value = {});

 private:
  struct Entry {
    std::string name;
    TAuTagValue value;
  };
  size_t LowerBound(std::string_view name) const;
  const Entry* Find(std::string_view name) const;
  Entry* Find(std::string_view name);

  std::vector<Entry> entries_;  // sorted without regard to case
  bool empty_ = true;
  bool changed_ = false;
};

// Keys of an APEv2 tag; no reader or writer of its own.
class TAPEv2Tags : public TAuTags {
 public:
  TAPEv2Tags();

  WideString Artist() const { return AsWideString("Artist"); }
  void SetArtist(const WideString& v) { SetValue("Artist", v); }
  WideString Composer() const { return AsWideString("Composer"); }
  void SetComposer(const WideString& v) { SetValue("Composer", v); }
  WideString Album() const { return AsWideString("Album"); }
  void SetAlbum(const WideString& v) { SetValue("Album", v); }
  WideString DebutAlbum() const { return AsWideString("Debut album"); }
  void SetDebutAlbum(const WideString& v) { SetValue("Debut album", v); }
  WideString Publisher() const { return AsWideString("Publisher"); }
  void SetPublisher(const WideString& v) { SetValue("Publisher", v); }
  WideString Conductor() const { return AsWideString("Conductor"); }
  void SetConductor(const WideString& v) { SetValue("Conductor", v); }
  WideString Copyright() const { return AsWideString("Copyright"); }
  void SetCopyright(const WideString& v) { SetValue("Copyright", v); }
  WideString Language() const { return AsWideString("Language"); }
  void SetLanguage(const WideString& v) { SetValue("Language", v); }
  WideString Genre() const { return AsWideString("Genre"); }
  void SetGenre(const WideString& v) { SetValue("Genre", v); }
  WideString RecordLocation() const { return AsWideString("Record Location"); }
  void SetRecordLocation(const WideString& v) { SetValue("Record Location", v); }
  WideString File_() const { return AsWideString("File"); }
  void SetFile_(const WideString& v) { SetValue("File", v); }
  WideString Related() const { return AsWideString("Related"); }
  void SetRelated(const WideString& v) { SetValue("Related", v); }
  WideString Abstract() const { return AsWideString("Abstract"); }
  void SetAbstract(const WideString& v) { SetValue("Abstract", v); }
  WideString Bibliography() const { return AsWideString("Bibliography"); }
  void SetBibliography(const WideString& v) { SetValue("Bibliography", v); }
  WideString Title() const { return AsWideString("Title"); }
  void SetTitle(const WideString& v) { SetValue("Title", v); }
  WideString SubTitle() const { return AsWideString("Subtitle"); }
  void SetSubTitle(const WideString& v) { SetValue("Subtitle", v); }
  WideString Comment() const { return AsWideString("Comment"); }
  void SetComment(const WideString& v) { SetValue("Comment", v); }

  // Kept as 8-bit text; wide values read converted.
  std::string ISBN() const { return AsString("ISBN"); }
  void SetISBN(const std::string& v) { SetValue("ISBN", v); }
  std::string ISRC() const { return AsString("ISRC"); }
  void SetISRC(const std::string& v) { SetValue("ISRC", v); }
  std::string BarCode() const { return AsString("EAN/UPC"); }
  void SetBarCode(const std::string& v) { SetValue("EAN/UPC", v); }
  std::string LabelCode() const { return AsString("LC"); }
  void SetLabelCode(const std::string& v) { SetValue("LC", v); }
  std::string Catalog() const { return AsString("Catalog"); }
  void SetCatalog(const std::string& v) { SetValue("Catalog", v); }
  std::string Year() const { return AsString("Year"); }
  void SetYear(const std::string& v) { SetValue("Year", v); }
  std::string RecordDate() const { return AsString("Record Date"); }
  void SetRecordDate(const std::string& v) { SetValue("Record Date", v); }
  std::string Track() const { return AsString("Track"); }
  void SetTrack(const std::string& v) { SetValue("Track", v); }
};

// Keys of the Vorbis comments an Ogg stream carries.
class TVorbisTags : public TAuTags {
 public:
  TVorbisTags();

  WideString Album() const { return AsWideString("album"); }
  void SetAlbum(const WideString& v) { SetValue("album", v); }
  WideString Artist() const { return AsWideString("artist"); }
  void SetArtist(const WideString& v) { SetValue("artist", v); }
  WideString Date() const { return AsWideString("date"); }
  void SetDate(const WideString& v) { SetValue("date", v); }
  WideString Genre() const { return AsWideString("genre"); }
  void SetGenre(const WideString& v) { SetValue("genre", v); }
  WideString Title() const { return AsWideString("title"); }
  void SetTitle(const WideString& v) { SetValue("title", v); }
  WideString Track() const { return AsWideString("tracknumber"); }
  void SetTrack(const WideString& v) { SetValue("tracknumber", v); }
  WideString Disc() const { return AsWideString("discnumber"); }
  void SetDisc(const WideString& v) { SetValue("discnumber", v); }
  WideString Reference() const { return AsWideString("replaygain_reference_loudness"); }
  void SetReference(const WideString& v) { SetValue("replaygain_reference_loudness", v); }
  WideString TrackGain() const { return AsWideString("replaygain_track_gain"); }
  void SetTrackGain(const WideString& v) { SetValue("replaygain_track_gain", v); }
  WideString TrackPeak() const { return AsWideString("replaygain_track_peak"); }
  void SetTrackPeak(const WideString& v) { SetValue("replaygain_track_peak", v); }
  WideString AlbumGain() const { return AsWideString("replaygain_album_gain"); }
  void SetAlbumGain(const WideString& v) { SetValue("replaygain_album_gain", v); }
  WideString AlbumPeak() const { return AsWideString("replaygain_album_peak"); }
  void SetAlbumPeak(const WideString& v) { SetValue("replaygain_album_peak", v); }
};

// Takes one "KEY=value" user comment of an Ogg stream: the key in lower case,
// the value decoded from UTF-8. Only artist, album, title, date, genre and
// tracknumber are taken; anything else, a comment without "=" included, is ignored.
void StoreVorbisComment(TVorbisTags& tags, std::string_view comment);

}  // namespace pmx
