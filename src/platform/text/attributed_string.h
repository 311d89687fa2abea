#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/text/text_attributes.h"
#include "platform/text/text_range.h"

namespace qlt {

// Text in UTF-16 code units with attributes in runs. Adjacent runs with
// equal attributes are kept merged, so two strings with the same text and
// the same attributes per character compare equal.
//
// Ranges outside the text are cut to it; callers that can get them wrong
// check first.
class AttributedString {
 public:
  struct Run {
    size_t length = 0;
    TextAttributes attributes;
    bool operator==(const Run&) const = default;
  };

  AttributedString() = default;
  explicit AttributedString(std::u16string text, TextAttributes attributes = {});
  // Ill-formed UTF-8 becomes U+FFFD.
  static AttributedString fromUTF8(std::string_view text, TextAttributes attributes = {});
  // One U+FFFC carrying `attachment`.
  static AttributedString withAttachment(TextAttachmentPointer attachment, TextAttributes attributes = {});

  const std::u16string& text() const { return text_; }
  std::string string() const;
  size_t length() const { return text_.size(); }
  bool empty() const { return text_.empty(); }
  const std::vector<Run>& runs() const { return runs_; }

  // REQUIRES: index < length().
  const TextAttributes& attributesAt(size_t index, TextRange* effectiveRange = nullptr) const;
  const AttributeValue* attributeAt(const std::string& name, size_t index, TextRange* effectiveRange = nullptr) const;

  void setAttributes(const TextAttributes& attributes, TextRange range);
  void addAttribute(const std::string& name, const AttributeValue& value, TextRange range);
  void addAttributes(const TextAttributes& attributes, TextRange range);
  void removeAttribute(const std::string& name, TextRange range);
  // Lets `change` edit the attributes of every run in one pass; it answers
  // whether it changed them, so that only changed runs are merged again.
  void changeEveryRun(const std::function<bool(TextAttributes&)>& change);

  void replaceCharacters(TextRange range, const AttributedString& replacement);
  // The new text takes the attributes of the first replaced character, or
  // of the character before when nothing is replaced.
  void replaceCharacters(TextRange range, std::u16string_view replacement);
  void append(const AttributedString& other);
  void appendText(std::u16string_view text, const TextAttributes& attributes);
  void deleteCharacters(TextRange range) { replaceCharacters(range, std::u16string_view()); }

  AttributedString substring(TextRange range) const;

  // Runs (merged by the whole attribute set) meeting `range`, each cut to it.
  void enumerateRuns(TextRange range, const std::function<void(const TextAttributes&, TextRange)>& visit) const;
  // Runs of one attribute's value (nullptr where absent), cut to `range`.
  void enumerateAttribute(const std::string& name, TextRange range,
                          const std::function<void(const AttributeValue*, TextRange)>& visit) const;
  // Every attachment with its position, in text order.
  std::vector<std::pair<size_t, TextAttachmentPointer>> attachments() const;

  // The line holding `index` with its terminator (LF, CR, CR LF, U+2028 or
  // U+2029).
  TextRange lineRange(size_t index) const;

  bool operator==(const AttributedString&) const = default;

 private:
  TextRange clamp(TextRange range) const;
  // Makes a run start at `index` and returns the run's position.
  size_t split(size_t index);
  void merge();
  template <class Change>
  void changeAttributes(TextRange range, Change change);

  std::u16string text_;
  std::vector<Run> runs_;
};

}  // namespace qlt
