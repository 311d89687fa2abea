#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/error.h"

namespace qlt {

// An item held in memory: a regular file with its contents, a directory of
// named children, or a symbolic link, with the attributes worth keeping.
// Reading takes in the whole tree at once.
class FileWrapper {
 public:
  enum class Kind { RegularFile, Directory, SymbolicLink };

  // Unset attributes are left to the system when writing.
  struct Attributes {
    std::optional<mode_t> posixPermissions;
    std::optional<struct timespec> creationTime;
    std::optional<struct timespec> modificationTime;
    bool extensionHidden = false;
    uint32_t typeCode = 0;
    uint32_t creatorCode = 0;
  };

  using Children = std::map<std::string, std::unique_ptr<FileWrapper>>;

  static std::unique_ptr<FileWrapper> regularFile(std::string contents);
  static std::unique_ptr<FileWrapper> directory();
  static std::unique_ptr<FileWrapper> symbolicLink(std::string destination);

  // Reads the item at `path` (following a link there) and everything below
  // it. Inside the tree, links are kept only when their destination is a
  // relative path without ".." (it cannot leave the tree); other links and
  // items that are neither files nor directories are left out.
  static std::unique_ptr<FileWrapper> readFromPath(const std::string& path, Error* error = nullptr);

  FileWrapper(const FileWrapper&) = delete;
  FileWrapper& operator=(const FileWrapper&) = delete;

  Kind kind() const { return kind_; }
  bool isRegularFile() const { return kind_ == Kind::RegularFile; }
  bool isDirectory() const { return kind_ == Kind::Directory; }
  bool isSymbolicLink() const { return kind_ == Kind::SymbolicLink; }

  // The name a parent files this wrapper under; set when it is added.
  const std::string& preferredFilename() const { return preferredFilename_; }
  void setPreferredFilename(std::string name) { preferredFilename_ = std::move(name); }
  // The name of the item it was last read from, or empty.
  const std::string& filename() const { return filename_; }

  const Attributes& attributes() const { return attributes_; }
  Attributes& attributes() { return attributes_; }

  // Empty unless a regular file.
  const std::string& regularFileContents() const { return contents_; }
  // Empty unless a symbolic link.
  const std::string& symbolicLinkDestination() const { return contents_; }

  // Empty unless a directory.
  const Children& children() const { return children_; }
  FileWrapper* child(const std::string& name) const;
  // Refuses names that are not a single path component, names already in
  // use, and children for anything but a directory.
  [[nodiscard]] bool addChild(const std::string& name, std::unique_ptr<FileWrapper> child, Error* error = nullptr);
  std::unique_ptr<FileWrapper> removeChild(const std::string& name);

  // Writes the tree to `path`, replacing what is there. The tree is checked
  // first: a bad name or link refuses the write before anything is written.
  // Atomically, the tree is built next to `path` and moved into place in
  // one step; otherwise the old item is removed and the tree written in its
  // place. Either way a failure leaves no partial tree.
  [[nodiscard]] bool writeToPath(const std::string& path, bool atomically, Error* error = nullptr) const;

 private:
  FileWrapper(Kind kind, std::string contents) : kind_(kind), contents_(std::move(contents)) {}

  [[nodiscard]] bool check(const std::string& path, Error* error) const;
  [[nodiscard]] bool writeItem(const std::string& path, Error* error) const;
  [[nodiscard]] bool applyAttributes(const std::string& path, Error* error) const;

  Kind kind_;
  std::string preferredFilename_;
  std::string filename_;
  Attributes attributes_;
  std::string contents_;
  Children children_;
};

}  // namespace qlt
