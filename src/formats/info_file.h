#pragma once

#include <string>

#include "platform/foundation/error.h"

namespace qlt {

inline constexpr const char* kInfoFileExtension = "qltinfo";

// The package type of info files: the product prefix in lower case + ".info".
std::string infoFileType();

// A package of HTML pages about the application: "Mac/index.html" holds
// the content, "Mac/dark.html" the styles for a dark appearance. Nothing is
// read or checked until a page is opened.
class InfoFile {
 public:
  explicit InfoFile(std::string fileURL) : fileURL_(std::move(fileURL)) {}
  // Never fails; the error is not touched.
  static InfoFile withFileURL(std::string fileURL, Error* error = nullptr);

  static std::string welcomeFileSummary();

  const std::string& fileURL() const { return fileURL_; }
  void setFileURL(std::string fileURL) { fileURL_ = std::move(fileURL); }

  std::string platformDirectory() const { return "Mac"; }
  std::string indexFileURL() const;
  std::string darkStylesFileURL() const;

 private:
  std::string fileURL_;
};

}  // namespace qlt
