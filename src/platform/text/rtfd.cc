#include "platform/text/rtfd.h"

#include <set>

#include "platform/files/file_path.h"
#include "platform/foundation/uniform_type.h"

namespace qlt {

namespace {

std::string attachmentBaseName(const TextAttachment& attachment) {
  std::string name = attachment.fileWrapper() ? attachment.fileWrapper()->preferredFilename() : std::string();
  if (name.empty() && attachment.fileWrapper()) name = attachment.fileWrapper()->filename();
  for (char& c : name)
    if (c == '/' || c == '\0') c = '-';
  if (name.empty() || name == "." || name == ".." || name == kRTFDTextFileName) {
    std::string extension;
    if (const UniformType* type = UniformType::withIdentifier(attachment.fileType()))
      extension = type->preferredFilenameExtension();
    name = extension.empty() ? "Attachment" : "Attachment." + extension;
  }
  return name;
}

std::string uniqueName(const std::string& name, const std::set<std::string>& used) {
  if (!used.count(name)) return name;
  std::string base = deletingPathExtension(name), extension = pathExtension(name);
  for (size_t counter = 2;; ++counter) {
    std::string candidate = base + " " + std::to_string(counter);
    if (!extension.empty()) candidate += "." + extension;
    if (!used.count(candidate)) return candidate;
  }
}

}  // namespace

std::unique_ptr<FileWrapper> copyFileWrapper(const FileWrapper& wrapper) {
  std::unique_ptr<FileWrapper> copy;
  switch (wrapper.kind()) {
    case FileWrapper::Kind::RegularFile: copy = FileWrapper::regularFile(wrapper.regularFileContents()); break;
    case FileWrapper::Kind::SymbolicLink:
      copy = FileWrapper::symbolicLink(wrapper.symbolicLinkDestination());
      break;
    case FileWrapper::Kind::Directory:
      copy = FileWrapper::directory();
      for (const auto& [name, child] : wrapper.children()) (void)copy->addChild(name, copyFileWrapper(*child));
      break;
  }
  copy->attributes() = wrapper.attributes();
  copy->setPreferredFilename(wrapper.preferredFilename());
  return copy;
}

std::unique_ptr<FileWrapper> rtfdFileWrapper(const AttributedString& text, Error* error,
                                             const RTFDAttachmentNamer& proposeName) {
  auto package = FileWrapper::directory();
  std::set<std::string> used{kRTFDTextFileName};
  std::vector<std::pair<std::string, std::unique_ptr<FileWrapper>>> files;
  std::string rtf = rtfFromAttributedString(text, [&](const TextAttachment& attachment, size_t) -> std::string {
    std::unique_ptr<FileWrapper> file;
    if (attachment.fileWrapper())
      file = copyFileWrapper(*attachment.fileWrapper());
    else if (attachment.contents())
      file = FileWrapper::regularFile(std::string(attachment.contents()->begin(), attachment.contents()->end()));
    else
      return {};
    std::string proposed = proposeName ? proposeName(attachment) : std::string();
    if (!isValidFilename(proposed)) proposed = attachmentBaseName(attachment);
    std::string name = uniqueName(proposed, used);
    used.insert(name);
    files.emplace_back(name, std::move(file));
    return name;
  });
  if (!package->addChild(kRTFDTextFileName, FileWrapper::regularFile(std::move(rtf)), error)) return nullptr;
  for (auto& [name, file] : files) {
    file->setPreferredFilename(name);
    if (!package->addChild(name, std::move(file), error)) return nullptr;
  }
  return package;
}

std::optional<RTFReadResult> readRTFD(const FileWrapper& package, Error* error) {
  const FileWrapper* rtf = package.isDirectory() ? package.child(kRTFDTextFileName) : nullptr;
  if (!rtf || !rtf->isRegularFile()) {
    setError(error, Error(kCocoaErrorDomain, kCocoaFileReadCorruptFileError,
                          "The file couldn't be opened because it isn't in the correct format."));
    return std::nullopt;
  }
  auto result = readRTF(rtf->regularFileContents(), [&](const std::string& name) -> TextAttachmentPointer {
    if (!isValidFilename(name) || name == kRTFDTextFileName) return nullptr;
    const FileWrapper* file = package.child(name);
    if (!file) return nullptr;
    std::shared_ptr<FileWrapper> copy = copyFileWrapper(*file);
    copy->setPreferredFilename(name);
    return std::make_shared<TextAttachment>(std::move(copy));
  }, error);
  if (result) result->documentAttributes[kDocumentTypeDocumentAttribute] = kRTFDTextDocumentType;
  return result;
}

}  // namespace qlt
