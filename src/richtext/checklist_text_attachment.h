#pragma once

#include <optional>
#include <string>

#include "platform/text/attributed_string.h"

namespace qlt {

inline constexpr const char* kChecklistOnValueReplacementString = "\u2713 ";
inline constexpr const char* kChecklistOffValueReplacementString = "\u25E6 ";
// The checklist's pasteboard and file type.
inline constexpr const char* kChecklistType = "com.quillet.checklist";
inline constexpr const char* kPlainTextPasteboardType = "public.utf8-plain-text";
// The width of the box; the checklist paragraph hangs its first line by it.
inline constexpr double kChecklistCellWidth = 18.0;

// A tick box in note text. Archived as one Boolean, "on".
class ChecklistTextAttachment final : public TextAttachment {
 public:
  static constexpr const char* kClassName = "QLTChecklistTextAttachment";

  explicit ChecklistTextAttachment(bool on = false);

  bool isOn() const { return on_; }
  void setOn(bool on) { on_ = on; }

  std::string replacementString() const;
  // The attachment on one character with the checklist paragraph style.
  AttributedString attributedString() const;
  static ParagraphStyle checklistParagraphStyle();

  // Pasteboard: the archive under kChecklistType, the replacement string as
  // plain text; nothing for other types.
  [[nodiscard]] std::optional<Bytes> pasteboardData(const std::string& type) const;
  static std::vector<std::string> writablePasteboardTypes() { return {kChecklistType, kPlainTextPasteboardType}; }
  [[nodiscard]] static std::shared_ptr<ChecklistTextAttachment> fromPasteboardData(const std::string& type,
                                                                                   const Bytes& data,
                                                                                   Error* error = nullptr);

  std::shared_ptr<TextAttachment> newOfSameClass() const override {
    return std::make_shared<ChecklistTextAttachment>();
  }
  std::string className() const override { return kClassName; }
  std::vector<std::string> classHierarchy() const override { return {kClassName, TextAttachment::kClassName}; }
  void encode(KeyedArchiver& archiver) const override;
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);

 private:
  bool on_;
};

}  // namespace qlt
