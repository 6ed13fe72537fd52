#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace pmx::test {

// The whole content of a file (empty when it cannot be read).
std::vector<uint8_t> FileBytes(const std::filesystem::path& path);
// Writes bytes as the whole content of a file.
void PutFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace pmx::test
