#pragma once

#include <cstdio>
#include <string>
#include <typeinfo>

#include "platform/text/attributed_string.h"

namespace qlt::testing {

// A readable form of text and attributes in which attachments show their
// class, file name and contents instead of their identity, so that two
// strings read from different places can be compared.
inline std::string describeValue(const AttributeValue& value) {
  char buffer[160];
  if (auto s = std::get_if<std::string>(&value)) return '"' + *s + '"';
  if (auto i = std::get_if<int64_t>(&value)) return std::to_string(*i);
  if (auto d = std::get_if<double>(&value)) return std::to_string(*d);
  if (auto b = std::get_if<bool>(&value)) return *b ? "YES" : "NO";
  if (auto f = std::get_if<Font>(&value)) return f->name() + " " + std::to_string(f->pointSize());
  if (auto c = std::get_if<Color>(&value)) {
    std::snprintf(buffer, sizeof buffer, "rgba(%.3f %.3f %.3f %.3f)%s", c->red(), c->green(), c->blue(), c->alpha(),
                  c->isDynamic() ? " dynamic" : "");
    return buffer;
  }
  if (auto p = std::get_if<ParagraphStyle>(&value)) {
    std::snprintf(buffer, sizeof buffer, "paragraph(%d %.1f %.1f %.1f %.1f %zu tabs %zu lists)",
                  static_cast<int>(p->alignment), p->firstLineHeadIndent, p->headIndent, p->paragraphSpacing,
                  p->lineHeightMultiple, p->tabStops.size(), p->textLists.size());
    return buffer;
  }
  auto attachment = std::get<TextAttachmentPointer>(value);
  std::string description = typeid(*attachment).name();
  if (auto wrapper = attachment->fileWrapper())
    description += " " + wrapper->preferredFilename() + "=" + wrapper->regularFileContents();
  if (auto contents = attachment->regularFileContents(); contents && !attachment->fileWrapper())
    description += " contents=" + *contents;
  return description;
}

inline std::string describe(const AttributedString& text) {
  std::string out = text.string() + "\n";
  text.enumerateRuns({0, text.length()}, [&](const TextAttributes& attributes, TextRange range) {
    out += "[" + std::to_string(range.location) + "," + std::to_string(range.length) + "]";
    for (const auto& [name, value] : attributes) out += " " + name + "=" + describeValue(value);
    out += "\n";
  });
  return out;
}

}  // namespace qlt::testing
