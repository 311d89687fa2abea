#pragma once

#include "platform/text/attributed_string.h"

namespace qlt {

inline constexpr const char* kDividerTextAttachmentType = "com.quillet.note.divider";
// The line's thickness and the space above and below it, in points.
inline constexpr double kDividerTextAttachmentCellSize = 1.0;
inline constexpr double kDividerTextAttachmentCellBorderSize = 7.0;

// A horizontal rule across note text.
class DividerTextAttachment final : public TextAttachment {
 public:
  static constexpr const char* kClassName = "QLTDividerTextAttachment";

  DividerTextAttachment() { setFileType(kDividerTextAttachmentType); }

  // A newline, the divider and a newline in the body style.
  AttributedString attributedString() const;
  // "***" centred, in the body style.
  static AttributedString replacementString();

  std::shared_ptr<TextAttachment> newOfSameClass() const override { return std::make_shared<DividerTextAttachment>(); }
  std::string className() const override { return kClassName; }
  std::vector<std::string> classHierarchy() const override { return {kClassName, TextAttachment::kClassName}; }
  void encode(KeyedArchiver&) const override {}
  static std::shared_ptr<Codable> decode(KeyedUnarchiver&, Error*) { return std::make_shared<DividerTextAttachment>(); }
};

}  // namespace qlt
