#pragma once

#include <optional>
#include <string>

#include "platform/foundation/codable.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/text/attributed_string.h"

namespace qlt {

// Keyed-archive forms of the text system's values, in the platform's class
// names: "NSFont" ("NSName", "NSSize"), "NSColor" ("NSColorSpace" with
// "NSRGB" as "r g b a" text, or the system catalogue's "NSColorName"),
// "NSParagraphStyle" (with "NSTextTab" and "NSTextList" objects),
// "NSTextAttachment" and "NSAttributedString" ("NSString", "NSAttributes"
// as one dictionary per distinct attribute set, "NSAttributeInfo" as
// varint pairs of run length and dictionary index).

// Registers the text classes, and the file-wrapper class the attachments
// use, in the global registry. Idempotent and thread-safe.
void registerTextClasses();

// Adds an attachment subclass: its factory is registered and its name is
// accepted wherever an attachment may be decoded.
void registerTextAttachmentClass(const std::string& className, CodableFactory factory);

// The classes an attribute value may have, attachment subclasses included.
ClassNameSet attributeValueClasses();

// The archive of `text` as the root object, a mutable attributed string.
[[nodiscard]] std::optional<Bytes> archivedAttributedString(const AttributedString& text, bool requiresSecureCoding,
                                                            Error* error = nullptr);
// Reads such an archive; the root must be one of `allowedClasses`.
[[nodiscard]] std::optional<AttributedString> unarchivedAttributedString(const Bytes& bytes,
                                                                         const ClassNameSet& allowedClasses,
                                                                         Error* error = nullptr);

// Adapters between values and their archived objects.
std::shared_ptr<Codable> codableForAttributeValue(const AttributeValue& value);
[[nodiscard]] std::optional<AttributeValue> attributeValueFromArchive(const ArchiveObject& object);
std::shared_ptr<Codable> codableForColor(const Color& color);
[[nodiscard]] std::optional<Color> colorFromArchive(const ArchiveObject& object);
std::shared_ptr<Codable> codableForParagraphStyle(const ParagraphStyle& style);
[[nodiscard]] std::optional<ParagraphStyle> paragraphStyleFromArchive(const ArchiveObject& object);

}  // namespace qlt
