// Whole files in and out, as byte strings, for the tests that read fixtures
// and write what they make. A file that cannot be read reads as empty; the
// test's own checks then say what is missing.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
