#include "audio/streaming/vorbis_loaders.h"

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "audio/streaming/streaming.h"

namespace pmx {
namespace {

// Runs LoadVorbisLibraries on several threads at once; the error texts they got.
std::vector<std::string> LoadOnThreads() {
  std::vector<std::string> errors(4);
  std::vector<std::thread> threads;
  for (std::string& error : errors) {
    threads.emplace_back([&error] {
      try {
        LoadVorbisLibraries();
      } catch (const EAuException& e) {
        error = e.what();
      }
    });
  }
  for (std::thread& t : threads) t.join();
  return errors;
}

void SetFileName(TCodecLibrary& lib, const std::string& name) {
  std::lock_guard lock(AuGlobalLock());
  lib.FileName = name;
}

// One test, since a library once loaded stays loaded for the process.
TEST(VorbisLoaders, AMissingLibraryIsReportedUntilItIsThere) {
  // Tests that decode load the libraries for good; this one needs a process of its own.
  if (VorbisFileLib.Loaded) GTEST_SKIP() << "the libraries were loaded by an earlier test";
  const std::string real = VorbisFileLib.FileName;
  SetFileName(VorbisFileLib, "libpmx-no-such-vorbisfile.so.3");
  for (const std::string& error : LoadOnThreads())
    EXPECT_EQ(error, "vorbisfile.dll library could not be loaded.");
  EXPECT_TRUE(OggLib.Loaded);
  EXPECT_TRUE(VorbisLib.Loaded);
  EXPECT_FALSE(VorbisFileLib.Loaded);
  EXPECT_EQ(VorbisFileLib.ov_open_callbacks, nullptr);

  SetFileName(VorbisFileLib, real);
  for (const std::string& error : LoadOnThreads()) EXPECT_EQ(error, "");
  ASSERT_TRUE(VorbisFileLib.Loaded && VorbisEncLib.Loaded);
  EXPECT_NE(VorbisFileLib.ov_open_callbacks, nullptr);
  EXPECT_NE(OggLib.ogg_sync_pageout, nullptr);
  EXPECT_EQ(OggLib.oggpack_look_huff, nullptr);  // absent from the library, and no harm done

  // The bound entry points are the libraries' own: set up an encoder through them.
  vorbis_info info;
  VorbisLib.vorbis_info_init(&info);
  EXPECT_EQ(VorbisEncLib.vorbis_encode_init_vbr(&info, 2, 44100, 0.4f), 0);
  EXPECT_EQ(info.channels, 2);
  VorbisLib.vorbis_info_clear(&info);
}

}  // namespace
}  // namespace pmx
