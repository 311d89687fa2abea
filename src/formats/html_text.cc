#include "formats/html_text.h"

#include <array>
#include <cstdint>
#include <cstdlib>

#include "platform/foundation/property_list_unicode.h"

namespace qlt {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = lower(c);
  return result;
}

// A reference to something that is not a Unicode scalar value reads as
// U+FFFD.
void appendCharacter(std::string& out, uint32_t code) {
  if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
  appendUTF8(out, static_cast<char32_t>(code));
}

// Decodes the reference starting at html[i] ('&'); returns how many bytes
// it used, 0 when it is not one.
size_t decodeReference(std::string_view html, size_t i, std::string& out) {
  size_t end = html.find(';', i);
  if (end == std::string_view::npos || end - i > 12) return 0;
  std::string_view name = html.substr(i + 1, end - i - 1);
  if (name.size() > 1 && name[0] == '#') {
    bool hex = name[1] == 'x' || name[1] == 'X';
    std::string digits(name.substr(hex ? 2 : 1));
    if (digits.empty()) return 0;
    char* stop = nullptr;
    unsigned long code = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
    if (*stop) return 0;
    appendCharacter(out, code > 0x10FFFF ? 0xFFFD : static_cast<uint32_t>(code));
    return end - i + 1;
  }
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 8> named{{
      {"amp", "&"}, {"lt", "<"}, {"gt", ">"}, {"quot", "\""}, {"apos", "'"}, {"nbsp", "\u00A0"},
      {"mdash", "\u2014"}, {"ndash", "\u2013"}}};
  for (const auto& [key, value] : named)
    if (name == key) {
      out += value;
      return end - i + 1;
    }
  return 0;
}

bool isBlock(const std::string& tag) {
  static constexpr std::array<std::string_view, 18> blocks{"p",  "div", "br", "li", "tr", "h1",    "h2",
                                                           "h3", "h4",  "h5", "h6", "ul", "ol",    "table",
                                                           "pre", "blockquote", "hr", "section"};
  for (std::string_view block : blocks)
    if (tag == block) return true;
  return false;
}

}  // namespace

std::string plainTextFromHTML(std::string_view html) {
  std::string out;
  bool pendingSpace = false;
  auto newline = [&] {
    while (!out.empty() && out.back() == ' ') out.pop_back();
    if (!out.empty() && !(out.size() >= 2 && out[out.size() - 1] == '\n' && out[out.size() - 2] == '\n')) out += '\n';
    pendingSpace = false;
  };
  size_t i = 0;
  while (i < html.size()) {
    char c = html[i];
    if (c == '<') {
      size_t close = html.find('>', i);
      if (close == std::string_view::npos) break;
      std::string_view inside = html.substr(i + 1, close - i - 1);
      bool closing = !inside.empty() && inside[0] == '/';
      if (closing) inside.remove_prefix(1);
      size_t nameEnd = 0;
      while (nameEnd < inside.size() && inside[nameEnd] != ' ' && inside[nameEnd] != '/' && inside[nameEnd] != '\t' &&
             inside[nameEnd] != '\n')
        ++nameEnd;
      std::string tag = lowered(inside.substr(0, nameEnd));
      i = close + 1;
      if (!closing && (tag == "script" || tag == "style" || tag == "head" || tag == "title")) {
        size_t end = lowered(html.substr(i)).find("</" + tag);
        i = end == std::string::npos ? html.size() : i + end;
        continue;
      }
      if (isBlock(tag)) newline();
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      pendingSpace = !out.empty() && out.back() != '\n';
      ++i;
      continue;
    }
    if (pendingSpace) out += ' ';
    pendingSpace = false;
    if (c == '&') {
      if (size_t used = decodeReference(html, i, out)) {
        i += used;
        continue;
      }
    }
    out += c;
    ++i;
  }
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace qlt
