#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/error.h"
#include "platform/text/attributed_string.h"

namespace qlt {

// The Rich Text Format, for the attributes the text system keeps: fonts
// (family, size, bold, italic), foreground and background colours,
// underline and strikethrough, links (HYPERLINK fields), paragraph
// alignment, indents, spacing and tab stops. Attachments are written as
// RTFD graphic references ("\NeXTGraphic <name>") when a name is given
// for them, and left out otherwise.

// Names the file of each attachment, in text order; empty leaves it out.
using RTFAttachmentNamer = std::function<std::string(const TextAttachment&, size_t index)>;
std::string rtfFromAttributedString(const AttributedString& text, const RTFAttachmentNamer& nameAttachment = {});

// Gives the attachment for a "\NeXTGraphic" name, or nullptr to leave it out.
using RTFAttachmentResolver = std::function<TextAttachmentPointer(const std::string& name)>;

struct RTFReadResult {
  AttributedString text;
  DocumentAttributes documentAttributes;
};

// Reads RTF. Input that does not start a document ("{\rtf") or that nests
// groups deeper than the reader follows fails with
// kCocoaFileReadCorruptFileError; anything else reads as well as it can:
// unknown control words and destinations are skipped, a missing closing
// brace ends the document, numbers are clamped.
[[nodiscard]] std::optional<RTFReadResult> readRTF(std::string_view data, const RTFAttachmentResolver& resolve = {},
                                                   Error* error = nullptr);

}  // namespace qlt
