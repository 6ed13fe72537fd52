#include "platform/hand_over_copy.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace pmx {
namespace {

// Every byte arrives whatever the alignment of either side and however the size
// splits into the aligned head, whole blocks and tail; nothing around the
// destination is touched.
TEST(HandOverCopy, CopiesExactlyTheBytesAtAnyAlignmentAndSize) {
  std::vector<uint8_t> source(20000);
  for (std::size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 251);
  for (std::size_t size : {0, 1, 63, 4095, 4096, 4097, 4159, 16000, 16001}) {
    for (std::size_t to_offset : {0, 1, 15, 16, 33}) {
      for (std::size_t from_offset : {0, 3}) {
        std::vector<uint8_t> target(size + 64, 0xA5);
        HandOverCopy(target.data() + to_offset, source.data() + from_offset, size);
        std::vector<uint8_t> expected(size + 64, 0xA5);
        std::copy_n(source.begin() + from_offset, size, expected.begin() + to_offset);
        ASSERT_EQ(target, expected) << size << " bytes to +" << to_offset << " from +" << from_offset;
      }
    }
  }
}

}  // namespace
}  // namespace pmx
