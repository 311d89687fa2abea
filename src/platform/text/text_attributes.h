#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <variant>

#include "platform/text/color.h"
#include "platform/text/font.h"
#include "platform/text/paragraph_style.h"
#include "platform/text/text_attachment.h"

namespace qlt {

// The value of one text attribute. Attachments compare by identity.
using AttributeValue =
    std::variant<std::string, int64_t, double, bool, Font, Color, ParagraphStyle, TextAttachmentPointer>;
using TextAttributes = std::map<std::string, AttributeValue>;

// The platform's attribute names.
inline constexpr const char* kFontAttributeName = "NSFont";
inline constexpr const char* kParagraphStyleAttributeName = "NSParagraphStyle";
inline constexpr const char* kForegroundColorAttributeName = "NSColor";
inline constexpr const char* kBackgroundColorAttributeName = "NSBackgroundColor";
inline constexpr const char* kLigatureAttributeName = "NSLigature";
inline constexpr const char* kKernAttributeName = "NSKern";
inline constexpr const char* kStrikethroughStyleAttributeName = "NSStrikethrough";
inline constexpr const char* kUnderlineStyleAttributeName = "NSUnderline";
inline constexpr const char* kStrokeColorAttributeName = "NSStrokeColor";
inline constexpr const char* kStrokeWidthAttributeName = "NSStrokeWidth";
inline constexpr const char* kShadowAttributeName = "NSShadow";
inline constexpr const char* kTextEffectAttributeName = "NSTextEffect";
inline constexpr const char* kAttachmentAttributeName = "NSAttachment";
inline constexpr const char* kLinkAttributeName = "NSLink";
inline constexpr const char* kBaselineOffsetAttributeName = "NSBaselineOffset";
inline constexpr const char* kUnderlineColorAttributeName = "NSUnderlineColor";
inline constexpr const char* kStrikethroughColorAttributeName = "NSStrikethroughColor";
inline constexpr const char* kObliquenessAttributeName = "NSObliqueness";
inline constexpr const char* kExpansionAttributeName = "NSExpansion";
inline constexpr const char* kWritingDirectionAttributeName = "NSWritingDirection";
inline constexpr const char* kVerticalGlyphFormAttributeName = "CTVerticalForms";
inline constexpr const char* kCursorAttributeName = "NSCursor";
inline constexpr const char* kToolTipAttributeName = "NSToolTip";
inline constexpr const char* kMarkedClauseSegmentAttributeName = "NSMarkedClauseSegment";
inline constexpr const char* kSuperscriptAttributeName = "NSSuperScript";
inline constexpr const char* kGlyphInfoAttributeName = "NSGlyphInfo";
inline constexpr const char* kTrackingAttributeName = "NSTracking";

// Document attributes read and written with rich text.
inline constexpr const char* kDocumentTypeDocumentAttribute = "DocumentType";
inline constexpr const char* kRTFTextDocumentType = "NSRTF";
inline constexpr const char* kRTFDTextDocumentType = "NSRTFD";
inline constexpr const char* kPlainTextDocumentType = "NSPlainText";
using DocumentAttributes = std::map<std::string, std::string>;

// Typed lookups; nullptr when absent or of another type.
template <class T>
const T* attributeAs(const TextAttributes& attributes, const std::string& name) {
  auto found = attributes.find(name);
  return found == attributes.end() ? nullptr : std::get_if<T>(&found->second);
}

// The U+FFFC every attachment stands on.
inline constexpr char16_t kAttachmentCharacter = u'\uFFFC';

}  // namespace qlt
