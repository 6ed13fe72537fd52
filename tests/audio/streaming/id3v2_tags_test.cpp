#include "audio/streaming/id3v2_tags.h"

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include <gtest/gtest.h>

#include "tests/audio/streaming/tag_files.h"

namespace pmx {
namespace {

using test::TagFile;

std::string BigEndian(uint32_t value, int bytes) {
  std::string out;
  for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(value >> (8 * i)));
  return out;
}

std::string Frame3(const std::string& id, const std::string& data) {
  return id + BigEndian(static_cast<uint32_t>(data.size()), 4) + std::string(2, '\0') + data;
}

std::string Frame2(const std::string& id, const std::string& data) {
  return id + BigEndian(static_cast<uint32_t>(data.size()), 3) + data;
}

// A tag header over body, with a syncsafe size that may claim more than there is.
std::string Tag(int version, uint8_t flags, const std::string& body, uint32_t extra = 0) {
  const uint32_t size = static_cast<uint32_t>(body.size()) + extra;
  std::string tag = "ID3";
  tag += {static_cast<char>(version), 0, static_cast<char>(flags)};
  for (int shift = 21; shift >= 0; shift -= 7) tag.push_back(static_cast<char>((size >> shift) & 0x7F));
  return tag + body;
}

TEST(Id3v2Tags, AlbumAndArtistMakeA48ByteTag) {
  TagFile file("");
  TId3v2Tags tags;
  tags.SetAlbum(u"A");
  tags.SetArtist(u"B");
  ASSERT_TRUE(tags.WriteToFile(file.fd));
  const std::string expected = std::string("ID3\x04\x00\x00\x00\x00\x00\x26", 10) +
                               Frame3("TALB", std::string("\0A", 2)) + Frame3("TPE1", std::string("\0B", 2)) +
                               std::string(14, '\0');
  EXPECT_EQ(file.Content(), expected);
  EXPECT_EQ(expected.size(), 48u);
}

TEST(Id3v2Tags, WriteKeepsTheAudioAndReadsBack) {
  const std::string audio = "RIFF old audio bytes";
  TagFile file(audio);
  std::filesystem::permissions(file.path(), std::filesystem::perms(0640));
  lseek(file.fd, 4, SEEK_SET);
  TId3v2Tags tags;
  tags.SetTitle(u"Caf\u00e9 \u20ac");  // the album before it stays empty
  tags.SetYear("2024");
  tags.SetComment(u"not written");
  ASSERT_TRUE(tags.WriteToFile(file.fd, true));
  const std::string content = file.Content();
  ASSERT_EQ(content.size() % 16, audio.size() % 16);
  EXPECT_EQ(content.substr(content.size() - audio.size()), audio);
  EXPECT_EQ(content.find("COMM"), std::string::npos);
  EXPECT_NE(content.find("TIT2"), std::string::npos);
  // The handle now reads the new file, at the position it had.
  EXPECT_EQ(file.Position(), 4);
  lseek(file.fd, 0, SEEK_SET);
  TId3v2Tags back;
  ASSERT_TRUE(back.ReadFromFile(file.fd));
  EXPECT_EQ(file.Position(), static_cast<int64_t>(content.size() - audio.size()));
  EXPECT_EQ(back.Title(), u"Caf\u00e9 \u20ac");
  EXPECT_EQ(back.Year(), "2024");
  EXPECT_EQ(back.Comment(), u"");
  EXPECT_TRUE(back.NewIds());
  // The file keeps its permissions; a leftover temporary file would show as a second entry.
  EXPECT_EQ(std::filesystem::status(file.path()).permissions(), std::filesystem::perms(0640));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.dir().path()), {}), 1);
}

TEST(Id3v2Tags, FrameSizesArePlainBigEndian) {
  TagFile file("");
  TId3v2Tags tags;
  tags.SetAlbum(std::u16string(299, u'x'));
  ASSERT_TRUE(tags.WriteToFile(file.fd));
  EXPECT_EQ(file.Content().substr(14, 4), std::string("\x00\x00\x01\x2C", 4));
}

TEST(Id3v2Tags, ReadsVersion22AndSwitchesToShortIds) {
  TagFile file(Tag(2, 0, Frame2("TT2", std::string("\0Song", 5)) + Frame2("TAL", std::string("\0Al\0xx", 6))) +
               "audio");
  TId3v2Tags tags;
  EXPECT_TRUE(tags.TagPresent(file.fd));
  ASSERT_TRUE(tags.ReadFromFile(file.fd));
  EXPECT_FALSE(tags.NewIds());
  EXPECT_EQ(tags.Title(), u"Song");
  EXPECT_EQ(tags.Album(), u"Al");
  EXPECT_EQ(tags.Id(TId3v2Tags::kTitle), std::string("TT2"));

  // What the properties show is what gets written, under the four-letter ids.
  tags.SetArtist(u"Set after the read");
  ASSERT_TRUE(tags.WriteToFile(file.fd));
  lseek(file.fd, 0, SEEK_SET);
  TId3v2Tags back;
  ASSERT_TRUE(back.ReadFromFile(file.fd));
  EXPECT_EQ(back.Title(), u"Song");
  EXPECT_EQ(back.Artist(), u"Set after the read");
}

TEST(Id3v2Tags, Utf16InBothByteOrders) {
  const std::string body = Frame3("TIT2", std::string("\x01\xFF\xFE" "A\0\xE9\0", 7)) +
                           Frame3("TPE1", std::string("\x01\xFE\xFF" "\0B\x20\xAC", 7)) +
                           Frame3("TALB", std::string("\x01" "C\0D\0\0\0E\0", 9)) +
                           Frame3("TCON", std::string("\x01\xFF\xFE" "G\0x", 6)) +
                           Frame3("TYER", std::string("\x02x", 2));
  TagFile file(Tag(3, 0, body));
  TId3v2Tags tags;
  tags.SetValue("TYER", std::string("unchanged?"));
  ASSERT_TRUE(tags.ReadFromFile(file.fd));
  EXPECT_EQ(tags.Title(), u"A\u00e9");
  EXPECT_EQ(tags.Artist(), u"B\u20ac");
  EXPECT_EQ(tags.Album(), u"CD");
  EXPECT_EQ(tags.Genre(), u"G");  // an odd last byte is not half a character
  EXPECT_EQ(tags.Year(), "");     // cleared by the read, not set by encoding 2
}

TEST(Id3v2Tags, FooterIsSkippedWhole) {
  const std::string tag = Tag(4, 0x10, Frame3("TIT2", std::string("\0T", 2))) + std::string(10, 'F');
  TagFile file(tag + "audio");
  TId3v2Tags tags;
  ASSERT_TRUE(tags.ReadFromFile(file.fd));
  EXPECT_EQ(file.Position(), static_cast<int64_t>(tag.size()));
  EXPECT_EQ(tags.Title(), u"T");
}

TEST(Id3v2Tags, UntrustedSizesAreBounded) {
  TId3v2Tags tags;
  // A frame claiming 4 GiB inside a small tag: read up to it, then stop.
  const std::string huge = Frame3("TIT2", std::string("\0T", 2)) + "TALB" + std::string("\xFF\xFF\xFF\xFF\0\0", 6);
  TagFile lying_frame(Tag(3, 0, huge, 100) + std::string(100, '\0'));
  ASSERT_TRUE(tags.ReadFromFile(lying_frame.fd));
  EXPECT_EQ(tags.Title(), u"T");
  EXPECT_EQ(tags.Album(), u"");

  // A tag claiming more than the file holds.
  TagFile short_file(Tag(3, 0, Frame3("TIT2", std::string("\0T", 2)), 1000));
  EXPECT_FALSE(tags.ReadFromFile(short_file.fd));
  EXPECT_EQ(tags.Title(), u"");

  for (const std::string& bad : {Tag(5, 0, ""), Tag(3, 0x10, ""), Tag(2, 0x20, ""), std::string("ID3\x03\xFF", 5)}) {
    TagFile file(bad + std::string(20, '\0'));
    EXPECT_FALSE(tags.TagPresent(file.fd));
    EXPECT_FALSE(tags.ReadFromFile(file.fd));
    EXPECT_EQ(file.Position(), 0);
  }
}

TEST(Id3v2Tags, AFailedWriteLeavesTheFileAsItWas) {
  const std::string audio(64 * 1024, 'a');
  TagFile file(audio);
  TId3v2Tags tags;
  tags.SetTitle(u"T");
  // The copy may not grow past 32 KiB: the failure comes half-way through the audio.
  rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit low = old;
  low.rlim_cur = 32 * 1024;
  std::signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &low);
  const bool written = tags.WriteToFile(file.fd);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, SIG_DFL);
  EXPECT_FALSE(written);
  EXPECT_EQ(file.Content(), audio);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(file.dir().path()), {}), 1);

  TagFile read_only(audio, O_RDONLY);
  EXPECT_FALSE(tags.WriteToFile(read_only.fd));
  EXPECT_EQ(read_only.Content(), audio);
  EXPECT_FALSE(tags.WriteToFile(kNoHandle));
}

}  // namespace
}  // namespace pmx
