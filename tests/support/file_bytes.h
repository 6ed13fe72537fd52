#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace pmx::test {

// The whole content of a file (empty when it cannot be read).
std::vector<uint8_t> FileBytes(const std::filesystem::path& path);
// Writes bytes as the whole content of a file.
void PutFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// The write calls (write, pwrite and their kin) the calling thread has made so far,
// as the kernel counts them.
uint64_t WriteCalls();

}  // namespace pmx::test
