// Whole files and their lines, read and written the plain way (not through an Env).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/base/bytes.h"

namespace jet::testkit {

// The bytes of a file; none when it cannot be read.
Bytes ReadAll(const std::filesystem::path& path);
// The same bytes as a string.
std::string ReadString(const std::filesystem::path& path);
// Writes `bytes` as the whole file (replacing it).
void WriteAll(const std::filesystem::path& path, const Bytes& bytes);
// Overwrites the file's bytes at `offset` with `bytes`.
void WriteAt(const std::filesystem::path& path, uint64_t offset, const Bytes& bytes);
// Every file under `root`, as paths relative to it, sorted.
std::vector<std::string> ListFiles(const std::filesystem::path& root);

// The lines of `text` without their '\n' (a last line needs none).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace jet::testkit
