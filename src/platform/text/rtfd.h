#pragma once

#include <memory>
#include <optional>

#include "platform/files/file_wrapper.h"
#include "platform/text/rtf.h"

namespace qlt {

// RTFD: a directory holding "TXT.rtf" and one file per attachment, which
// the RTF names with "\NeXTGraphic <file name>".
inline constexpr const char* kRTFDTextFileName = "TXT.rtf";

// Proposes a file name for an attachment; empty leaves the choice to the
// writer.
using RTFDAttachmentNamer = std::function<std::string(const TextAttachment&)>;

// The package of `text`. Each attachment's file is a copy of its file
// wrapper (or its contents) under the proposed name, else the wrapper's
// preferred name, made unique ("name 2.png") and safe as one path
// component; attachments with neither file nor contents are left out.
[[nodiscard]] std::unique_ptr<FileWrapper> rtfdFileWrapper(const AttributedString& text, Error* error = nullptr,
                                                           const RTFDAttachmentNamer& proposeName = {});

// Reads a package: only entries directly inside it are attachments, and
// names that are not single path components, or that name nothing, leave
// their attachment out.
[[nodiscard]] std::optional<RTFReadResult> readRTFD(const FileWrapper& package, Error* error = nullptr);

// A deep copy of a file wrapper with its attributes and names.
std::unique_ptr<FileWrapper> copyFileWrapper(const FileWrapper& wrapper);

}  // namespace qlt
