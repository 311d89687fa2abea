#include "platform/text/attributed_string.h"

#include <algorithm>

#include "platform/foundation/property_list_unicode.h"

namespace qlt {

namespace {

std::u16string utf16Lossy(std::string_view text) {
  if (auto converted = utf16FromUTF8(text)) return *converted;
  std::string repaired;
  size_t i = 0;
  while (i < text.size()) {
    // Takes the longest valid prefix of at most four bytes, else U+FFFD.
    size_t take = 0;
    for (size_t n = std::min<size_t>(4, text.size() - i); n >= 1; --n)
      if (isValidUTF8(text.substr(i, n))) {
        take = n;
        break;
      }
    if (take == 0) {
      appendUTF8(repaired, 0xFFFD);
      ++i;
    } else {
      repaired.append(text.substr(i, take));
      i += take;
    }
  }
  return utf16FromUTF8(repaired).value_or(std::u16string());
}

bool isParagraphSeparator(char16_t c) { return c == u'\n' || c == u'\r' || c == u'\u2029' || c == u'\u2028'; }

}  // namespace

AttributedString::AttributedString(std::u16string text, TextAttributes attributes) : text_(std::move(text)) {
  if (!text_.empty()) runs_.push_back({text_.size(), std::move(attributes)});
}

AttributedString AttributedString::fromUTF8(std::string_view text, TextAttributes attributes) {
  return AttributedString(utf16Lossy(text), std::move(attributes));
}

AttributedString AttributedString::withAttachment(TextAttachmentPointer attachment, TextAttributes attributes) {
  attributes[kAttachmentAttributeName] = std::move(attachment);
  return AttributedString(std::u16string(1, kAttachmentCharacter), std::move(attributes));
}

std::string AttributedString::string() const { return utf8FromUTF16(text_); }

TextRange AttributedString::clamp(TextRange range) const {
  size_t location = std::min(range.location, text_.size());
  return {location, std::min(range.length, text_.size() - location)};
}

const TextAttributes& AttributedString::attributesAt(size_t index, TextRange* effectiveRange) const {
  static const TextAttributes kNone;
  size_t start = 0;
  for (const Run& run : runs_) {
    if (index < start + run.length) {
      if (effectiveRange) *effectiveRange = {start, run.length};
      return run.attributes;
    }
    start += run.length;
  }
  if (effectiveRange) *effectiveRange = {text_.size(), 0};
  return kNone;
}

const AttributeValue* AttributedString::attributeAt(const std::string& name, size_t index,
                                                    TextRange* effectiveRange) const {
  const TextAttributes& attributes = attributesAt(index, effectiveRange);
  auto found = attributes.find(name);
  return found == attributes.end() ? nullptr : &found->second;
}

size_t AttributedString::split(size_t index) {
  size_t start = 0;
  for (size_t i = 0; i < runs_.size(); ++i) {
    if (start == index) return i;
    if (index < start + runs_[i].length) {
      Run tail{start + runs_[i].length - index, runs_[i].attributes};
      runs_[i].length = index - start;
      runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(i) + 1, std::move(tail));
      return i + 1;
    }
    start += runs_[i].length;
  }
  return runs_.size();
}

void AttributedString::merge() {
  std::vector<Run> merged;
  merged.reserve(runs_.size());
  for (Run& run : runs_) {
    if (run.length == 0) continue;
    if (!merged.empty() && merged.back().attributes == run.attributes)
      merged.back().length += run.length;
    else
      merged.push_back(std::move(run));
  }
  runs_ = std::move(merged);
}

template <class Change>
void AttributedString::changeAttributes(TextRange range, Change change) {
  range = clamp(range);
  if (range.length == 0) return;
  size_t first = split(range.location);
  size_t last = split(range.end());
  for (size_t i = first; i < last; ++i) change(runs_[i].attributes);
  merge();
}

void AttributedString::setAttributes(const TextAttributes& attributes, TextRange range) {
  changeAttributes(range, [&](TextAttributes& current) { current = attributes; });
}

void AttributedString::addAttribute(const std::string& name, const AttributeValue& value, TextRange range) {
  changeAttributes(range, [&](TextAttributes& current) { current[name] = value; });
}

void AttributedString::addAttributes(const TextAttributes& attributes, TextRange range) {
  changeAttributes(range, [&](TextAttributes& current) {
    for (const auto& [name, value] : attributes) current[name] = value;
  });
}

void AttributedString::removeAttribute(const std::string& name, TextRange range) {
  changeAttributes(range, [&](TextAttributes& current) { current.erase(name); });
}

void AttributedString::changeEveryRun(const std::function<bool(TextAttributes&)>& change) {
  std::vector<Run> merged;
  merged.reserve(runs_.size());
  bool previousChanged = false;
  for (Run& run : runs_) {
    bool changed = change(run.attributes);
    // Runs next to each other were different before; only a change can
    // make them equal.
    if (!merged.empty() && (changed || previousChanged) && merged.back().attributes == run.attributes)
      merged.back().length += run.length;
    else
      merged.push_back(std::move(run));
    previousChanged = changed;
  }
  runs_ = std::move(merged);
}

void AttributedString::replaceCharacters(TextRange range, const AttributedString& replacement) {
  range = clamp(range);
  size_t first = split(range.location);
  size_t last = split(range.end());
  runs_.erase(runs_.begin() + static_cast<std::ptrdiff_t>(first), runs_.begin() + static_cast<std::ptrdiff_t>(last));
  runs_.insert(runs_.begin() + static_cast<std::ptrdiff_t>(first), replacement.runs_.begin(), replacement.runs_.end());
  text_.replace(range.location, range.length, replacement.text_);
  merge();
}

void AttributedString::replaceCharacters(TextRange range, std::u16string_view replacement) {
  range = clamp(range);
  TextAttributes attributes;
  if (range.length > 0)
    attributes = attributesAt(range.location);
  else if (range.location > 0)
    attributes = attributesAt(range.location - 1);
  else if (!text_.empty())
    attributes = attributesAt(0);
  replaceCharacters(range, AttributedString(std::u16string(replacement), std::move(attributes)));
}

void AttributedString::append(const AttributedString& other) {
  for (const Run& run : other.runs_) {
    if (!runs_.empty() && runs_.back().attributes == run.attributes)
      runs_.back().length += run.length;
    else
      runs_.push_back(run);
  }
  text_ += other.text_;
}

void AttributedString::appendText(std::u16string_view text, const TextAttributes& attributes) {
  if (text.empty()) return;
  if (!runs_.empty() && runs_.back().attributes == attributes)
    runs_.back().length += text.size();
  else
    runs_.push_back({text.size(), attributes});
  text_ += text;
}

AttributedString AttributedString::substring(TextRange range) const {
  AttributedString result;
  enumerateRuns(range, [&](const TextAttributes& attributes, TextRange run) {
    result.appendText(std::u16string_view(text_).substr(run.location, run.length), attributes);
  });
  return result;
}

void AttributedString::enumerateRuns(TextRange range,
                                     const std::function<void(const TextAttributes&, TextRange)>& visit) const {
  range = clamp(range);
  size_t start = 0;
  for (const Run& run : runs_) {
    size_t end = start + run.length;
    size_t from = std::max(start, range.location), to = std::min(end, range.end());
    if (from < to) visit(run.attributes, {from, to - from});
    if (end >= range.end()) break;
    start = end;
  }
}

void AttributedString::enumerateAttribute(const std::string& name, TextRange range,
                                          const std::function<void(const AttributeValue*, TextRange)>& visit) const {
  const AttributeValue* current = nullptr;
  TextRange pending{range.location, 0};
  bool started = false;
  enumerateRuns(range, [&](const TextAttributes& attributes, TextRange run) {
    auto found = attributes.find(name);
    const AttributeValue* value = found == attributes.end() ? nullptr : &found->second;
    bool same = started && ((value == nullptr && current == nullptr) || (value && current && *value == *current));
    if (same) {
      pending.length += run.length;
      return;
    }
    if (started) visit(current, pending);
    current = value;
    pending = run;
    started = true;
  });
  if (started) visit(current, pending);
}

std::vector<std::pair<size_t, TextAttachmentPointer>> AttributedString::attachments() const {
  std::vector<std::pair<size_t, TextAttachmentPointer>> found;
  enumerateAttribute(kAttachmentAttributeName, {0, text_.size()}, [&](const AttributeValue* value, TextRange range) {
    auto attachment = value ? std::get_if<TextAttachmentPointer>(value) : nullptr;
    if (!attachment || !*attachment) return;
    for (size_t i = range.location; i < range.end(); ++i)
      if (text_[i] == kAttachmentCharacter) found.emplace_back(i, *attachment);
  });
  return found;
}

TextRange AttributedString::lineRange(size_t index) const {
  index = std::min(index, text_.size());
  size_t start = index;
  while (start > 0 && !isParagraphSeparator(text_[start - 1])) --start;
  size_t end = index;
  while (end < text_.size() && !isParagraphSeparator(text_[end])) ++end;
  if (end < text_.size()) {
    if (text_[end] == u'\r' && end + 1 < text_.size() && text_[end + 1] == u'\n') ++end;
    ++end;
  }
  return {start, end - start};
}

}  // namespace qlt
