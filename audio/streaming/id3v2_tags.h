#pragma once

#include <string>

#include "audio/streaming/au_tags.h"

namespace pmx {

// The text frames of an ID3v2 tag at the start of a file. Keys are the frame ids
// of version 2.2 (three letters) and 2.3 on (four letters); the properties use
// one of the two sets as NewIds says. Single-threaded.
class TId3v2Tags : public TAuTags {
 public:
  // Rows of the frame-id table.
  enum Row { kAlbum, kArtist, kGenre, kTitle, kTrack, kYear, kComment, kComposer, kEncoder, kCopyright,
             kLanguage, kLink, kRowCount };

  TId3v2Tags();

  // True: four-letter ids; False: three-letter ids. Set by ReadFromFile.
  bool NewIds() const { return new_ids_; }
  void SetNewIds(bool v) { new_ids_ = v; }
  // The id of a row under NewIds.
  const char* Id(Row row) const;

  WideString Artist() const { return AsWideString(Id(kArtist)); }
  void SetArtist(const WideString& v) { SetValue(Id(kArtist), v); }
  WideString Album() const { return AsWideString(Id(kAlbum)); }
  void SetAlbum(const WideString& v) { SetValue(Id(kAlbum), v); }
  WideString Genre() const { return AsWideString(Id(kGenre)); }
  void SetGenre(const WideString& v) { SetValue(Id(kGenre), v); }
  WideString Title() const { return AsWideString(Id(kTitle)); }
  void SetTitle(const WideString& v) { SetValue(Id(kTitle), v); }
  WideString Comment() const { return AsWideString(Id(kComment)); }
  void SetComment(const WideString& v) { SetValue(Id(kComment), v); }
  WideString Composer() const { return AsWideString(Id(kComposer)); }
  void SetComposer(const WideString& v) { SetValue(Id(kComposer), v); }
  WideString Encoder() const { return AsWideString(Id(kEncoder)); }
  void SetEncoder(const WideString& v) { SetValue(Id(kEncoder), v); }
  WideString Copyright() const { return AsWideString(Id(kCopyright)); }
  void SetCopyright(const WideString& v) { SetValue(Id(kCopyright), v); }
  WideString Language() const { return AsWideString(Id(kLanguage)); }
  void SetLanguage(const WideString& v) { SetValue(Id(kLanguage), v); }
  WideString Link() const { return AsWideString(Id(kLink)); }
  void SetLink(const WideString& v) { SetValue(Id(kLink), v); }
  std::string Year() const { return AsString(Id(kYear)); }
  void SetYear(const std::string& v) { SetValue(Id(kYear), v); }
  std::string Track() const { return AsString(Id(kTrack)); }
  void SetTrack(const std::string& v) { SetValue(Id(kTrack), v); }

  // A valid tag header at the file position, which is left as it was.
  bool TagPresent(TAuHandle handle);
  bool DetectTag(TAuHandle handle) override { return TagPresent(handle); }
  // Reads the tag at the file position and leaves the position after it. Frame
  // sizes are trusted only as far as the tag and the file reach.
  bool ReadFromFile(TAuHandle handle) override;
  // Puts a version 4 tag of the values shown by the properties in front of the
  // file's content (an earlier tag stays behind it). Empty values get no frame;
  // the comment is not written. The file is replaced as a whole, so a failure
  // leaves it as it was; handle must be open for reading and writing.
  bool WriteToFile(TAuHandle handle, bool use_utf8);
  bool WriteToFile(TAuHandle handle) override { return WriteToFile(handle, false); }

 private:
  void ReadFrames(TAuHandle handle, int version, int64_t position, int64_t end);
  void StoreFrame(int version, std::string_view id, const std::string& data, size_t size);
  std::string FrameData(Row row, bool use_utf8) const;

  bool new_ids_ = true;
};

}  // namespace pmx
