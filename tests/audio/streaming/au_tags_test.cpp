#include "audio/streaming/au_tags.h"

#include <gtest/gtest.h>

#include "audio/streaming/au_strings.h"

namespace pmx {
namespace {

TEST(AuTags, KeysAreFoundWithoutRegardToCase) {
  TVorbisTags tags;
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
  tags.SetValue("ARTIST", u"Band");
  EXPECT_EQ(tags.Artist(), u"Band");
  EXPECT_FALSE(tags.Empty());
  EXPECT_TRUE(tags.Changed());
  EXPECT_EQ(tags.Count(), 12);
  EXPECT_EQ(tags.NameAt(0), "album");
  EXPECT_EQ(tags.NameAt(11), "tracknumber");
  EXPECT_EQ(tags.NameAt(12), "");
  EXPECT_EQ(tags.NameAt(-1), "");
}

TEST(AuTags, UnknownKeysAndEqualValuesChangeNothing) {
  TVorbisTags tags;
  tags.SetValue("composer", u"X");
  EXPECT_TRUE(tags.Empty());
  EXPECT_FALSE(tags.Changed());
  EXPECT_TRUE(std::holds_alternative<std::monostate>(tags.GetValue("composer")));

  TAPEv2Tags ape;
  ape.SetValue("Artist", std::monostate());
  EXPECT_FALSE(ape.Changed());
  ape.SetTitle(u"T");
  ape.Clear();
  EXPECT_TRUE(ape.Empty());
  EXPECT_TRUE(ape.Changed());
  EXPECT_EQ(ape.Title(), u"");
}

TEST(AuTags, TypedReaders) {
  TAPEv2Tags tags;
  tags.SetValue("Year", 1999);
  tags.SetValue("Track", std::string("-12"));
  tags.SetValue("Title", WideString(u"42"));
  tags.SetValue("Album", std::string("4x"));
  tags.SetValue("Artist", u"Caf\u00e9 \u20ac");
  EXPECT_EQ(tags.AsInteger("Year"), 1999);
  EXPECT_EQ(tags.AsInteger("Track"), -12);
  EXPECT_EQ(tags.AsInteger("Title"), 42);
  EXPECT_EQ(tags.AsInteger("Album"), 0);
  EXPECT_EQ(tags.AsInteger("Genre"), 0);
  EXPECT_EQ(tags.Year(), "1999");
  EXPECT_EQ(tags.AsString("Genre"), "");
  // Wide text reads as 8-bit text with what ISO-8859-1 lacks replaced.
  EXPECT_EQ(tags.AsString("Artist"), "Caf\xe9 ?");
  tags.SetISRC("\xe9");
  EXPECT_EQ(tags.AsWideString("ISRC"), u"\u00e9");
}

TEST(AuTags, AssignCopiesOnlyTheKeysBothSetsHave) {
  TVorbisTags vorbis;
  vorbis.SetAlbum(u"Al");
  vorbis.SetArtist(u"Ar");
  vorbis.SetGenre(u"Ge");
  vorbis.SetTitle(u"Ti");
  vorbis.SetDate(u"2001");
  vorbis.SetTrackGain(u"-3 dB");
  TAPEv2Tags ape;
  ape.SetComposer(u"gone after Assign");
  ape.Assign(vorbis);
  EXPECT_EQ(ape.Album(), u"Al");
  EXPECT_EQ(ape.Artist(), u"Ar");
  EXPECT_EQ(ape.Genre(), u"Ge");
  EXPECT_EQ(ape.Title(), u"Ti");
  EXPECT_EQ(ape.Composer(), u"");
  EXPECT_EQ(ape.Year(), "");
  for (int i = 0; i < ape.Count(); ++i) {
    const std::string key = ape.NameAt(i);
    if (key != "Album" && key != "Artist" && key != "Genre" && key != "Title") {
      EXPECT_TRUE(std::holds_alternative<std::monostate>(ape.GetValue(key))) << key;
    }
  }
}

TEST(AuTags, VorbisCommentsTakeSixKeys) {
  TVorbisTags tags;
  StoreVorbisComment(tags, "ARTIST=\xc3\xa9");
  StoreVorbisComment(tags, "Title=a=b");
  StoreVorbisComment(tags, "tracknumber=7");
  StoreVorbisComment(tags, "discnumber=2");
  StoreVorbisComment(tags, "genre");
  StoreVorbisComment(tags, "date=\xff\xc3");
  EXPECT_EQ(tags.Artist(), u"\u00e9");
  EXPECT_EQ(tags.Title(), u"a=b");
  EXPECT_EQ(tags.Track(), u"7");
  EXPECT_EQ(tags.Disc(), u"");
  EXPECT_EQ(tags.Genre(), u"");
  EXPECT_EQ(tags.Date(), u"\ufffd\ufffd");
}

TEST(AuStrings, SplitAtAChar) {
  EXPECT_EQ(CopyUpToChar('=', "TITLE=Song"), "TITLE");
  EXPECT_EQ(CopyAfterChar('=', "TITLE=Song"), "Song");
  EXPECT_EQ(CopyUpToChar('=', "TITLE"), "");
  EXPECT_EQ(CopyAfterChar('=', "TITLE"), "");
}

TEST(AuStrings, SameGUIDComparesEveryField) {
  const TGUID a{0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8}};
  TGUID b = a;
  EXPECT_TRUE(SameGUID(a, b));
  b.D4[7] = 9;
  EXPECT_FALSE(SameGUID(a, b));
  b = a;
  b.D3 = 0;
  EXPECT_FALSE(SameGUID(a, b));
}

TEST(WideText, Utf8RoundTripAndMalformedInput) {
  const WideString text = u"a\u00e9\u20ac\U0001F600";
  EXPECT_EQ(WideToUtf8(text), "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  // Overlong, surrogate, truncated and stray continuation bytes.
  EXPECT_EQ(Utf8ToWide("\xc0\xaf"), u"\ufffd");
  EXPECT_EQ(Utf8ToWide("\xed\xa0\x80"), u"\ufffd");
  EXPECT_EQ(Utf8ToWide("x\xe2\x82"), u"x\ufffd");
  EXPECT_EQ(Utf8ToWide("\x80z"), u"\ufffdz");
  EXPECT_EQ(WideToUtf8(u"\xd800x"), "\xef\xbf\xbdx");
}

}  // namespace
}  // namespace pmx
