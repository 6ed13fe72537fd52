#include "audio/streaming/id3v1_tags.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <initializer_list>

#include "audio/streaming/au_strings.h"
#include "audio/streaming/tag_file_io.h"

namespace pmx {
namespace {

constexpr std::array<const char*, 148> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental pop", "Instrumental rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40",
    "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave",
    "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical",
    "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing", "Fast Fusion", "Bebob",
    "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock", "Progressive Rock",
    "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus", "Easy Listening", "Acoustic",
    "Humour", "Speech", "Chanson", "Opera", "Chamber music", "Sonata", "Symphony", "Booty Bass", "Primus",
    "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad", "Power Ballad",
    "Rhythmic soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella", "Euro-House",
    "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror", "Indie", "BritPop",
    "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "JPop",
    "Synthpop"};
constexpr TId3v1TagsGenreId kOther = 12;

constexpr size_t kTrailerSize = 128;
using Trailer = std::array<char, kTrailerSize>;
// Offsets into the trailer.
constexpr size_t kTitle = 3, kArtist = 33, kAlbum = 63, kYear = 93, kComment = 97, kGenre = 127;
constexpr size_t kTextSize = 30, kYearSize = 4, kShortCommentSize = 28;
constexpr size_t kTrackMark = 125, kTrack = 126;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A text field up to its first zero byte, trimmed.
std::string Field(const Trailer& t, size_t offset, size_t size) {
  std::string_view field(t.data() + offset, size);
  return std::string(Trim(field.substr(0, field.find('\0'))));
}

void PutField(Trailer& t, size_t offset, size_t size, std::string_view text) {
  std::memcpy(t.data() + offset, text.data(), std::min(size, text.size()));
}

bool ReadTrailer(TAuHandle handle, Trailer& t) {
  const int64_t size = FileSize(handle);
  return size >= static_cast<int64_t>(kTrailerSize) &&
         ReadAt(handle, size - static_cast<int64_t>(kTrailerSize), t.data(), t.size()) &&
         std::memcmp(t.data(), "TAG", 3) == 0;
}

}  // namespace

TId3v1Tags::TId3v1Tags() {
  for (const char* key : {"artist", "album", "year", "track", "title", "comment"}) AddKey(key);
  AddKey("genre", kOther);
}

std::string TId3v1Tags::Artist() const {
  const TAuTagValue value = GetValue("artist");
  return std::holds_alternative<std::string>(value) || std::holds_alternative<WideString>(value)
             ? AsString("artist")
             : std::string();
}

TId3v1TagsGenreId TId3v1Tags::GenreId() const {
  const int id = AsInteger("genre");
  return id >= 0 && id < static_cast<int>(kGenres.size()) ? id : kOther;
}

std::string TId3v1Tags::Genre() const { return kGenres[GenreId()]; }

void TId3v1Tags::SetGenre(std::string_view name) {
  name = Trim(name);
  for (size_t id = 0; id < kGenres.size(); ++id) {
    if (SameText(name, kGenres[id])) {
      SetGenreId(static_cast<TId3v1TagsGenreId>(id));
      return;
    }
  }
}

bool TId3v1Tags::DetectTag(TAuHandle handle) {
  Trailer t;
  return handle != kNoHandle && ReadTrailer(handle, t);
}

bool TId3v1Tags::ReadFromFile(TAuHandle handle) {
  Trailer t;
  if (!TAuTags::ReadFromFile(handle) || !ReadTrailer(handle, t)) return false;
  SetValue("title", Field(t, kTitle, kTextSize));
  SetValue("artist", Field(t, kArtist, kTextSize));
  SetValue("album", Field(t, kAlbum, kTextSize));
  SetValue("year", StrToIntDef(Field(t, kYear, kYearSize), 0));
  const char mark = t[kTrackMark], track = t[kTrack];
  const bool has_track = (mark == 0 && track != 0) || (mark == ' ' && track != ' ');
  SetValue("comment", Field(t, kComment, has_track ? kShortCommentSize : kTextSize));
  SetValue("track", has_track ? int{static_cast<unsigned char>(track)} : 0);
  SetValue("genre", int{static_cast<unsigned char>(t[kGenre])});
  return true;
}

bool TId3v1Tags::WriteToFile(TAuHandle handle) {
  if (handle == kNoHandle) return false;
  const int64_t end = lseek(handle, 0, SEEK_END);
  if (end < 0) return false;
  Trailer t{};
  PutField(t, 0, 3, "TAG");
  PutField(t, kTitle, kTextSize, Title());
  PutField(t, kArtist, kTextSize, Artist());
  PutField(t, kAlbum, kTextSize, Album());
  PutField(t, kYear, kYearSize, std::to_string(Year()));
  const bool has_track = Track() != 0;
  PutField(t, kComment, has_track ? kShortCommentSize : kTextSize, Comment());
  if (has_track) t[kTrack] = static_cast<char>(Track());
  t[kGenre] = static_cast<char>(GenreId());
  if (WriteAll(handle, t.data(), t.size())) return true;
  // Takes a partly written trailer off again; should that fail too, nothing more can be done.
  [[maybe_unused]] const int restored = ftruncate(handle, end);
  return false;
}

}  // namespace pmx
