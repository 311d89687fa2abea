#pragma once

#include <memory>
#include <string>
#include <vector>

#include "fuzz_scratch.h"
#include "platform/files/file_wrapper.h"

// A package folder made from the input: parts between "\n--\n" lines are
// files. The first parts fill `fixedNames` in order (an empty part leaves
// its file out); each further part starts with its file name on a line of
// its own.
inline std::unique_ptr<qlt::FileWrapper> fuzzPackage(const uint8_t* data, size_t size,
                                                     const std::vector<std::string>& fixedNames) {
  auto package = qlt::FileWrapper::directory();
  std::vector<std::string> parts = splitFuzzInput(data, size, "\n--\n");
  for (size_t i = 0; i < parts.size(); ++i) {
    std::string name, contents = parts[i];
    if (i < fixedNames.size()) {
      if (contents.empty()) continue;
      name = fixedNames[i];
    } else {
      size_t newline = contents.find('\n');
      name = contents.substr(0, newline);
      contents = newline == std::string::npos ? std::string() : contents.substr(newline + 1);
    }
    (void)package->addChild(name, qlt::FileWrapper::regularFile(std::move(contents)));
  }
  return package;
}
