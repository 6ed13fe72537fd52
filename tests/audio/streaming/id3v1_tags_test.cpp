#include "audio/streaming/id3v1_tags.h"

#include <sys/resource.h>

#include <gtest/gtest.h>

#include "tests/audio/streaming/tag_files.h"

namespace pmx {
namespace {

using test::TagFile;

std::string Trailer() {
  std::string t(128, '\0');
  t.replace(0, 3, "TAG");
  t.replace(3, 6, "Title ");
  t.replace(33, 7, "  Band ");
  t.replace(63, 5, "Album");
  t.replace(93, 4, "1987");
  t.replace(97, 28, std::string(28, 'c'));
  t[126] = 7;
  t[127] = 17;
  return t;
}

TEST(Id3v1Tags, ReadsTheTrailer) {
  TagFile file("audio" + Trailer());
  TId3v1Tags tags;
  EXPECT_TRUE(tags.DetectTag(file.fd));
  ASSERT_TRUE(tags.ReadFromFile(file.fd));
  EXPECT_EQ(file.Position(), 0);
  EXPECT_EQ(tags.Title(), "Title");
  EXPECT_EQ(tags.Artist(), "Band");
  EXPECT_EQ(tags.Album(), "Album");
  EXPECT_EQ(tags.Year(), 1987);
  EXPECT_EQ(tags.Comment(), std::string(28, 'c'));
  EXPECT_EQ(tags.Track(), 7);
  EXPECT_EQ(tags.GenreId(), 17);
  EXPECT_EQ(tags.Genre(), "Rock");
}

TEST(Id3v1Tags, TrackFormsAndBadBytes) {
  std::string t = Trailer();
  t.replace(97, 30, std::string(30, 'd'));  // no track: a 30-byte comment
  t.replace(93, 4, "19x7");
  t[127] = static_cast<char>(200);
  TagFile file(t);
  TId3v1Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(file.fd));
  EXPECT_EQ(tags.Comment(), std::string(30, 'd'));
  EXPECT_EQ(tags.Track(), 0);
  EXPECT_EQ(tags.Year(), 0);
  EXPECT_EQ(tags.Genre(), "Other");

  t[125] = ' ';
  t[126] = '3';
  TagFile blank_marked(t);
  ASSERT_TRUE(tags.ReadFromFile(blank_marked.fd));
  EXPECT_EQ(tags.Track(), '3');
  EXPECT_EQ(tags.Comment(), std::string(28, 'd'));
}

TEST(Id3v1Tags, NoTrailer) {
  TagFile short_file("TAG");
  TagFile plain(std::string(200, 'x'));
  TId3v1Tags tags;
  tags.SetTitle("kept until a read");
  EXPECT_FALSE(tags.DetectTag(short_file.fd));
  EXPECT_FALSE(tags.DetectTag(kNoHandle));
  EXPECT_FALSE(tags.ReadFromFile(plain.fd));
  EXPECT_EQ(tags.Title(), "");
}

TEST(Id3v1Tags, GenreNamesAndIds) {
  TId3v1Tags tags;
  EXPECT_EQ(tags.Genre(), "Other");
  tags.SetGenre("  rock\t");
  EXPECT_EQ(tags.GenreId(), 17);
  tags.SetGenre("No such genre");
  EXPECT_EQ(tags.GenreId(), 17);
  tags.SetGenre("synthpop");
  EXPECT_EQ(tags.Genre(), "Synthpop");
  tags.SetGenreId(-1);
  EXPECT_EQ(tags.Genre(), "Other");
  tags.SetValue("artist", 5);
  EXPECT_EQ(tags.Artist(), "");
}

TEST(Id3v1Tags, WriteAppendsATrailerThatReadsBack) {
  TagFile file("audio");
  TId3v1Tags tags;
  tags.SetTitle(std::string(40, 't'));
  tags.SetArtist("Band");
  tags.SetAlbum("Album");
  tags.SetYear(12345);
  tags.SetComment(std::string(30, 'c'));
  tags.SetTrack(9);
  tags.SetGenreId(17);
  ASSERT_TRUE(tags.WriteToFile(file.fd));
  const std::string content = file.Content();
  ASSERT_EQ(content.size(), 5u + 128u);
  EXPECT_EQ(content.substr(0, 5), "audio");
  EXPECT_EQ(content.substr(5, 3), "TAG");
  EXPECT_EQ(content.substr(5 + 93, 4), "1234");
  EXPECT_EQ(content[5 + 125], '\0');
  EXPECT_EQ(content[5 + 126], 9);
  EXPECT_EQ(content[5 + 127], 17);

  TId3v1Tags back;
  ASSERT_TRUE(back.ReadFromFile(file.fd));
  EXPECT_EQ(back.Title(), std::string(30, 't'));
  EXPECT_EQ(back.Artist(), "Band");
  EXPECT_EQ(back.Year(), 1234);
  EXPECT_EQ(back.Comment(), std::string(28, 'c'));
  EXPECT_EQ(back.Track(), 9);
  EXPECT_EQ(back.Genre(), "Rock");
}

TEST(Id3v1Tags, AFailedWriteLeavesTheFileAsItWas) {
  const std::string audio(1000, 'a');
  TagFile file(audio);
  TId3v1Tags tags;
  tags.SetTitle("T");
  // The file may not grow past 1050 bytes: the trailer cannot go on whole.
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit low = old;
  low.rlim_cur = 1050;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &low);
  const bool written = tags.WriteToFile(file.fd);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(written);
  EXPECT_EQ(file.Content(), audio);
}

}  // namespace
}  // namespace pmx
