#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// A folder of this process for targets whose formats arrive as files,
// made on first use and removed at exit.
inline const std::filesystem::path& fuzzScratchDirectory() {
  static const std::filesystem::path directory = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "qlt-fuzz-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(fuzzScratchDirectory(), ignored);
    });
    return std::filesystem::path(buffer.data());
  }();
  return directory;
}

inline std::string writeFuzzScratchFile(const std::string& name, const uint8_t* data, size_t size) {
  std::filesystem::path path = fuzzScratchDirectory() / name;
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
  return path.string();
}

// The input cut into parts at each occurrence of `separator`.
inline std::vector<std::string> splitFuzzInput(const uint8_t* data, size_t size, const std::string& separator) {
  std::string input(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t found; (found = input.find(separator, start)) != std::string::npos; start = found + separator.size())
    parts.push_back(input.substr(start, found - start));
  parts.push_back(input.substr(start));
  return parts;
}
