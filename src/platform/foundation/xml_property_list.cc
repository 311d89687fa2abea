#include "platform/foundation/xml_property_list.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "platform/foundation/property_list_unicode.h"

namespace qlt {

namespace {

constexpr int kMaximumDepth = 512;
constexpr char kUIDKey[] = "CF$UID";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// Years 0000 through 9999, the range of the four-digit date text.
constexpr double kEarliestDate = -63145526400.0;
constexpr double kLatestDate = 252423993599.0;

class Writer {
 public:
  explicit Writer(std::string* problem) : problem_(problem) {}

  std::optional<Bytes> write(const PropertyList& root) {
    out_ =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
        "<plist version=\"1.0\">\n";
    if (!writeValue(root, 0)) return std::nullopt;
    out_ += "</plist>\n";
    return Bytes(out_.begin(), out_.end());
  }

 private:
  bool fail(std::string reason) {
    if (problem_) *problem_ = std::move(reason);
    return false;
  }

  void indent(int depth) { out_.append(depth, '\t'); }

  bool writeText(const char* tag, const std::string& text, int depth) {
    if (!isValidUTF8(text)) return fail("A string is not valid UTF-8.");
    indent(depth);
    out_ += '<';
    out_ += tag;
    out_ += '>';
    for (char c : text) {
      if (c == '<')
        out_ += "&lt;";
      else if (c == '>')
        out_ += "&gt;";
      else if (c == '&')
        out_ += "&amp;";
      else
        out_ += c;
    }
    out_ += "</";
    out_ += tag;
    out_ += ">\n";
    return true;
  }

  void writeData(const Bytes& data, int depth) {
    indent(depth);
    out_ += "<data>\n";
    std::string encoded;
    for (size_t i = 0; i < data.size(); i += 3) {
      uint32_t group = data[i] << 16;
      if (i + 1 < data.size()) group |= data[i + 1] << 8;
      if (i + 2 < data.size()) group |= data[i + 2];
      encoded += kBase64Alphabet[(group >> 18) & 0x3F];
      encoded += kBase64Alphabet[(group >> 12) & 0x3F];
      encoded += i + 1 < data.size() ? kBase64Alphabet[(group >> 6) & 0x3F] : '=';
      encoded += i + 2 < data.size() ? kBase64Alphabet[group & 0x3F] : '=';
    }
    for (size_t at = 0; at < encoded.size(); at += 76) {
      indent(depth);
      out_.append(encoded, at, 76);
      out_ += '\n';
    }
    indent(depth);
    out_ += "</data>\n";
  }

  bool writeValue(const PropertyList& value, int depth) {
    if (depth > kMaximumDepth) return fail("The property list is nested too deeply.");
    switch (value.type()) {
      case PropertyList::Type::String:
        return writeText("string", *value.string(), depth);
      case PropertyList::Type::Integer:
        return writeText("integer", std::to_string(*value.integer()), depth);
      case PropertyList::Type::Real: {
        double real = *value.real();
        if (std::isnan(real)) return writeText("real", "nan", depth);
        if (std::isinf(real)) return writeText("real", real > 0 ? "+infinity" : "-infinity", depth);
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, real);
        return writeText("real", std::string(buffer, result.ptr), depth);
      }
      case PropertyList::Type::Boolean:
        indent(depth);
        out_ += *value.boolean() ? "<true/>\n" : "<false/>\n";
        return true;
      case PropertyList::Type::Date: {
        double seconds = value.date()->timeIntervalSinceReferenceDate();
        if (!(seconds >= kEarliestDate && seconds <= kLatestDate)) return fail("A date lies outside years 1 to 9999.");
        return writeText("date", value.date()->iso8601(), depth);
      }
      case PropertyList::Type::Data:
        writeData(*value.data(), depth);
        return true;
      case PropertyList::Type::UID: {
        if (value.uid()->value > static_cast<uint64_t>(INT64_MAX)) return fail("A UID is too large for XML.");
        PropertyListDictionary reference{{kUIDKey, static_cast<long long>(value.uid()->value)}};
        return writeValue(PropertyList(std::move(reference)), depth);
      }
      case PropertyList::Type::Array:
        indent(depth);
        if (value.array()->empty()) {
          out_ += "<array/>\n";
          return true;
        }
        out_ += "<array>\n";
        for (const PropertyList& element : *value.array())
          if (!writeValue(element, depth + 1)) return false;
        indent(depth);
        out_ += "</array>\n";
        return true;
      case PropertyList::Type::Dictionary:
        indent(depth);
        if (value.dictionary()->empty()) {
          out_ += "<dict/>\n";
          return true;
        }
        out_ += "<dict>\n";
        for (const auto& [key, element] : *value.dictionary())
          if (!writeText("key", key, depth + 1) || !writeValue(element, depth + 1)) return false;
        indent(depth);
        out_ += "</dict>\n";
        return true;
    }
    return false;
  }

  std::string* problem_;
  std::string out_;
};

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
  return text;
}

std::optional<int64_t> parseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  uint64_t magnitude = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  if (negative) {
    if (magnitude > static_cast<uint64_t>(INT64_MAX) + 1) return std::nullopt;
    return static_cast<int64_t>(0 - magnitude);
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  return static_cast<int64_t>(magnitude);
}

std::optional<double> parseReal(std::string_view text) {
  if (text == "nan" || text == "NaN") return NAN;
  if (text == "+infinity" || text == "infinity" || text == "inf" || text == "+inf") return INFINITY;
  if (text == "-infinity" || text == "-inf") return -INFINITY;
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  double value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<Bytes> decodeBase64(std::string_view text) {
  Bytes out;
  uint32_t group = 0;
  int bits = 0;
  bool padding = false;
  for (char c : text) {
    if (isSpace(c)) continue;
    if (c == '=') {
      padding = true;
      continue;
    }
    const char* found = c ? std::strchr(kBase64Alphabet, c) : nullptr;
    if (!found || padding) return std::nullopt;
    group = (group << 6) | static_cast<uint32_t>(found - kBase64Alphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out.push_back(static_cast<uint8_t>(group >> bits));
      group &= (1u << bits) - 1;
    }
  }
  return out;
}

class Reader {
 public:
  Reader(const uint8_t* bytes, size_t size, std::string* problem)
      : text_(reinterpret_cast<const char*>(bytes), size), problem_(problem) {}

  std::optional<PropertyList> read() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") at_ = 3;
    if (!skipMisc()) return std::nullopt;
    Tag tag;
    if (!readOpenTag(tag)) return std::nullopt;
    std::optional<PropertyList> result;
    if (tag.name == "plist") {
      if (tag.empty) return fail("The plist element is empty.");
      if (!skipMisc()) return std::nullopt;
      Tag inner;
      if (!readOpenTag(inner)) return std::nullopt;
      result = readValue(inner, 1);
      if (!result || !skipMisc() || !readCloseTag("plist")) return std::nullopt;
    } else {
      result = readValue(tag, 1);
      if (!result) return std::nullopt;
    }
    if (!skipMisc()) return std::nullopt;
    if (at_ != text_.size()) return fail("Unexpected content follows the property list.");
    return result;
  }

 private:
  struct Tag {
    std::string_view name;
    bool empty = false;
  };

  std::nullopt_t fail(std::string reason) {
    if (problem_ && problem_->empty()) *problem_ = std::move(reason) + " (at byte " + std::to_string(at_) + ")";
    return std::nullopt;
  }

  bool startsWith(std::string_view prefix) const { return text_.substr(at_).starts_with(prefix); }

  bool skipPast(std::string_view terminator) {
    size_t found = text_.find(terminator, at_);
    if (found == std::string_view::npos) return fail("An XML construct is not terminated."), false;
    at_ = found + terminator.size();
    return true;
  }

  // Skips whitespace, comments, processing instructions and the document type.
  bool skipMisc() {
    while (at_ < text_.size()) {
      if (isSpace(text_[at_])) {
        ++at_;
      } else if (startsWith("<!--")) {
        at_ += 4;
        if (!skipPast("-->")) return false;
      } else if (startsWith("<?")) {
        if (!skipPast("?>")) return false;
      } else if (startsWith("<!DOCTYPE")) {
        at_ += 9;
        while (at_ < text_.size() && text_[at_] != '>' && text_[at_] != '[') ++at_;
        if (at_ < text_.size() && text_[at_] == '[' && !skipPast("]")) return false;
        if (!skipPast(">")) return false;
      } else {
        break;
      }
    }
    return true;
  }

  bool readOpenTag(Tag& tag) {
    if (at_ >= text_.size() || text_[at_] != '<') return fail("An element was expected."), false;
    size_t start = ++at_;
    while (at_ < text_.size() && !isSpace(text_[at_]) && text_[at_] != '>' && text_[at_] != '/') ++at_;
    tag.name = text_.substr(start, at_ - start);
    if (tag.name.empty()) return fail("An element has no name."), false;
    char quote = 0;
    for (; at_ < text_.size(); ++at_) {
      char c = text_[at_];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        tag.empty = text_[at_ - 1] == '/';
        ++at_;
        return true;
      }
    }
    return fail("An element is not terminated."), false;
  }

  bool readCloseTag(std::string_view name) {
    if (!startsWith("</") || !text_.substr(at_ + 2).starts_with(name)) return fail("A closing tag was expected."), false;
    at_ += 2 + name.size();
    while (at_ < text_.size() && isSpace(text_[at_])) ++at_;
    if (at_ >= text_.size() || text_[at_] != '>') return fail("A closing tag is malformed."), false;
    ++at_;
    return true;
  }

  // The character data of a text element up to its closing tag.
  std::optional<std::string> readText(const Tag& tag) {
    std::string out;
    if (tag.empty) return out;
    while (true) {
      if (at_ >= text_.size()) return fail("Text runs to the end of the data.");
      char c = text_[at_];
      if (c == '&') {
        if (!readEntity(out)) return std::nullopt;
      } else if (startsWith("<![CDATA[")) {
        size_t start = at_ + 9;
        if (!skipPast("]]>")) return std::nullopt;
        out.append(text_.substr(start, at_ - 3 - start));
      } else if (startsWith("<!--")) {
        at_ += 4;
        if (!skipPast("-->")) return std::nullopt;
      } else if (c == '<') {
        if (!readCloseTag(tag.name)) return std::nullopt;
        break;
      } else {
        out += c;
        ++at_;
      }
    }
    if (!isValidUTF8(out)) return fail("Text is not valid UTF-8.");
    return out;
  }

  bool readEntity(std::string& out) {
    size_t end = text_.find(';', at_);
    if (end == std::string_view::npos || end - at_ > 12) return fail("An entity is malformed."), false;
    std::string_view name = text_.substr(at_ + 1, end - at_ - 1);
    at_ = end + 1;
    if (name == "lt") {
      out += '<';
    } else if (name == "gt") {
      out += '>';
    } else if (name == "amp") {
      out += '&';
    } else if (name == "quot") {
      out += '"';
    } else if (name == "apos") {
      out += '\'';
    } else if (name.size() > 1 && name[0] == '#') {
      bool hex = name[1] == 'x' || name[1] == 'X';
      std::string_view digits = name.substr(hex ? 2 : 1);
      uint32_t point = 0;
      auto result = std::from_chars(digits.data(), digits.data() + digits.size(), point, hex ? 16 : 10);
      if (digits.empty() || result.ec != std::errc() || result.ptr != digits.data() + digits.size() ||
          point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return fail("A character reference is invalid."), false;
      appendUTF8(out, point);
    } else {
      return fail("An entity is unknown."), false;
    }
    return true;
  }

  std::optional<PropertyList> readValue(const Tag& tag, int depth) {
    if (depth > kMaximumDepth) return fail("The property list is nested too deeply.");
    std::string_view name = tag.name;
    if (name == "dict") return readDictionary(tag, depth);
    if (name == "array") return readArray(tag, depth);
    if (name == "true" || name == "false") {
      if (!tag.empty && !readCloseTag(name)) return std::nullopt;
      return PropertyList(name == "true");
    }
    if (name != "string" && name != "integer" && name != "real" && name != "date" && name != "data")
      return fail("An element is not a property-list value.");
    auto text = readText(tag);
    if (!text) return std::nullopt;
    if (name == "string") return PropertyList(std::move(*text));
    if (name == "integer") {
      auto value = parseInteger(trimmed(*text));
      if (!value) return fail("An integer is malformed or out of range.");
      return PropertyList(static_cast<long long>(*value));
    }
    if (name == "real") {
      auto value = parseReal(trimmed(*text));
      if (!value) return fail("A real is malformed.");
      return PropertyList(*value);
    }
    if (name == "date") {
      auto value = Date::fromISO8601(trimmed(*text));
      if (!value) return fail("A date is malformed.");
      return PropertyList(*value);
    }
    auto value = decodeBase64(*text);
    if (!value) return fail("Data is not valid base64.");
    return PropertyList(std::move(*value));
  }

  std::optional<PropertyList> readArray(const Tag& tag, int depth) {
    PropertyListArray elements;
    if (tag.empty) return PropertyList(std::move(elements));
    while (true) {
      if (!skipMisc()) return std::nullopt;
      if (startsWith("</")) {
        if (!readCloseTag("array")) return std::nullopt;
        return PropertyList(std::move(elements));
      }
      Tag inner;
      if (!readOpenTag(inner)) return std::nullopt;
      auto element = readValue(inner, depth + 1);
      if (!element) return std::nullopt;
      elements.push_back(std::move(*element));
    }
  }

  std::optional<PropertyList> readDictionary(const Tag& tag, int depth) {
    PropertyListDictionary entries;
    if (tag.empty) return PropertyList(std::move(entries));
    while (true) {
      if (!skipMisc()) return std::nullopt;
      if (startsWith("</")) {
        if (!readCloseTag("dict")) return std::nullopt;
        break;
      }
      Tag keyTag;
      if (!readOpenTag(keyTag)) return std::nullopt;
      if (keyTag.name != "key") return fail("A dictionary entry does not start with a key.");
      auto key = readText(keyTag);
      if (!key || !skipMisc()) return std::nullopt;
      Tag valueTag;
      if (!readOpenTag(valueTag)) return std::nullopt;
      auto value = readValue(valueTag, depth + 1);
      if (!value) return std::nullopt;
      entries.insert_or_assign(std::move(*key), std::move(*value));
    }
    if (entries.size() == 1) {
      auto found = entries.find(kUIDKey);
      if (found != entries.end() && found->second.isInteger() && *found->second.integer() >= 0)
        return PropertyList(PropertyListUID{static_cast<uint64_t>(*found->second.integer())});
    }
    return PropertyList(std::move(entries));
  }

  std::string_view text_;
  size_t at_ = 0;
  std::string* problem_;
};

}  // namespace

std::optional<Bytes> writeXMLPropertyList(const PropertyList& value, std::string* problem) {
  return Writer(problem).write(value);
}

std::optional<PropertyList> readXMLPropertyList(const uint8_t* bytes, size_t size, std::string* problem) {
  return Reader(bytes, size, problem).read();
}

}  // namespace qlt
