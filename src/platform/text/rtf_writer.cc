#include "platform/text/rtf.h"

#include <cmath>
#include <map>

#include "platform/foundation/windows_1252.h"

namespace qlt {

namespace {

long twips(double points) { return std::lround(points * 20); }

class RTFWriter {
 public:
  RTFWriter(const AttributedString& text, const RTFAttachmentNamer& namer) : text_(text), namer_(namer) {}

  std::string write() {
    collectTables();
    out_.reserve(text_.length() * 2 + 256);
    out_ += "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
    for (size_t i = 0; i < fonts_.size(); ++i) {
      out_ += "\\f" + std::to_string(i) + (isMonospaced(fonts_[i]) ? "\\fmodern" : "\\fswiss") + "\\fcharset0 ";
      escapeText(fonts_[i]);
      out_ += ';';
    }
    out_ += "}\n{\\colortbl;";
    for (const Color& color : colors_) {
      out_ += "\\red" + std::to_string(std::lround(color.red() * 255)) + "\\green" +
              std::to_string(std::lround(color.green() * 255)) + "\\blue" +
              std::to_string(std::lround(color.blue() * 255)) + ";";
    }
    out_ += "}\n";
    writeListTables();
    size_t attachmentIndex = 0, position = 0;
    for (const AttributedString::Run& run : text_.runs()) {
      writeFormatting(run.attributes);
      auto link = attributeAs<std::string>(run.attributes, kLinkAttributeName);
      if (link) {
        out_ += "{\\field{\\*\\fldinst{HYPERLINK \"";
        escapeText(*link);
        out_ += "\"}}{\\fldrslt ";
      }
      auto attachment = attributeAs<TextAttachmentPointer>(run.attributes, kAttachmentAttributeName);
      size_t start = position;
      if (isListMarkerAt(position, run)) {
        out_ += "{\\listtext ";
        for (size_t i = position; i < position + 3; ++i) writeCharacter(text_.text()[i]);
        out_ += "}";
        start += 3;
      }
      for (size_t i = start; i < position + run.length; ++i) {
        char16_t c = text_.text()[i];
        if (c != kAttachmentCharacter) {
          writeCharacter(c);
          continue;
        }
        if (!attachment || !*attachment || !namer_) continue;
        std::string name = namer_(**attachment, attachmentIndex++);
        if (name.empty()) continue;
        out_ += "{{\\NeXTGraphic ";
        escapeText(name);
        out_ += " \\width640 \\height640\n}\\'ac}";
      }
      if (link) out_ += "}}";
      position += run.length;
    }
    out_ += "}\n";
    return std::move(out_);
  }

 private:
  static bool isMonospaced(const std::string& family) { return Font(family, 12).isFixedPitch(); }

  void collectTables() {
    fonts_.push_back(Font::userFont(12).withTraits(false, false).name());
    fontIndex_[fonts_.back()] = 0;
    for (const AttributedString::Run& run : text_.runs()) {
      if (auto font = attributeAs<Font>(run.attributes, kFontAttributeName)) {
        std::string family = font->withTraits(false, false).name();
        if (fontIndex_.emplace(family, fonts_.size()).second) fonts_.push_back(family);
      }
      for (const char* name : {kForegroundColorAttributeName, kBackgroundColorAttributeName})
        if (auto color = attributeAs<Color>(run.attributes, name)) colorIndex(*color);
      if (auto style = attributeAs<ParagraphStyle>(run.attributes, kParagraphStyleAttributeName))
        if (!style->textLists.empty()) listIndex(style->textLists.front());
    }
  }

  // A list paragraph's marker: tab, one character, tab at the start of its
  // line, which readers that draw their own markers leave out.
  bool isListMarkerAt(size_t position, const AttributedString::Run& run) const {
    auto style = attributeAs<ParagraphStyle>(run.attributes, kParagraphStyleAttributeName);
    if (!style || style->textLists.empty() || run.length < 3) return false;
    const std::u16string& text = text_.text();
    bool lineStart = position == 0 || text[position - 1] == u'\n' || text[position - 1] == u'\r' ||
                     text[position - 1] == u'\u2029';
    return lineStart && text[position] == u'\t' && text[position + 1] != u'\t' && text[position + 2] == u'\t';
  }

  void writeListTables() {
    if (lists_.empty()) return;
    out_ += "{\\*\\listtable";
    for (size_t i = 0; i < lists_.size(); ++i) {
      const TextList& list = lists_[i];
      std::string id = std::to_string(i + 1);
      out_ += "\n{\\list\\listtemplateid" + id + "\\listhybrid{\\listlevel\\levelnfc" +
              (list.markerFormat == "{decimal}" ? "0" : "23") + "\\levelstartat" +
              std::to_string(list.startingItemNumber) + "{\\*\\levelmarker ";
      escapeText(list.markerFormat);
      out_ += "}{\\leveltext\\leveltemplateid" + id + "\\'01\\'95;}{\\levelnumbers;}\\fi-360\\li720\\lin720 }"
              "{\\listname ;}\\listid" + id + "}";
    }
    out_ += "}\n{\\*\\listoverridetable";
    for (size_t i = 0; i < lists_.size(); ++i)
      out_ += "{\\listoverride\\listid" + std::to_string(i + 1) + "\\listoverridecount0\\ls" +
              std::to_string(i + 1) + "}";
    out_ += "}\n";
  }

  size_t listIndex(const TextList& list) {
    for (size_t i = 0; i < lists_.size(); ++i)
      if (lists_[i] == list) return i + 1;
    lists_.push_back(list);
    return lists_.size();
  }

  size_t colorIndex(const Color& color) {
    Color value = color.fixed();
    for (size_t i = 0; i < colors_.size(); ++i)
      if (colors_[i].isApproximatelyEqual(value)) return i + 1;
    colors_.push_back(value);
    return colors_.size();
  }

  void writeFormatting(const TextAttributes& attributes) {
    std::string control;
    auto style = attributeAs<ParagraphStyle>(attributes, kParagraphStyleAttributeName);
    const ParagraphStyle& paragraph = style ? *style : ParagraphStyle::defaultStyle();
    if (!paragraphWritten_ || paragraph != paragraph_) {
      control += paragraphControls(paragraph);
      paragraph_ = paragraph;
      paragraphWritten_ = true;
    }
    auto font = attributeAs<Font>(attributes, kFontAttributeName);
    Font value = font ? *font : Font::userFont(12);
    control += "\\f" + std::to_string(fontIndex_[value.withTraits(false, false).name()]);
    control += "\\fs" + std::to_string(std::lround(value.pointSize() * 2));
    control += value.isBold() ? "\\b" : "\\b0";
    control += value.isItalic() ? "\\i" : "\\i0";
    auto foreground = attributeAs<Color>(attributes, kForegroundColorAttributeName);
    control += "\\cf" + std::to_string(foreground ? colorIndex(*foreground) : 0);
    auto background = attributeAs<Color>(attributes, kBackgroundColorAttributeName);
    control += "\\cb" + std::to_string(background ? colorIndex(*background) : 0);
    auto underline = attributeAs<int64_t>(attributes, kUnderlineStyleAttributeName);
    control += underline && *underline ? "\\ul" : "\\ulnone";
    auto strike = attributeAs<int64_t>(attributes, kStrikethroughStyleAttributeName);
    control += strike && *strike ? "\\strike" : "\\strike0";
    if (control != lastCharacterControls_) out_ += control + ' ';
    lastCharacterControls_ = control;
  }

  std::string paragraphControls(const ParagraphStyle& style) {
    std::string c = "\\pard";
    for (const TextTab& tab : style.tabStops) {
      if (tab.alignment == TextAlignment::Right) c += "\\tqr";
      if (tab.alignment == TextAlignment::Center) c += "\\tqc";
      c += "\\tx" + std::to_string(twips(tab.location));
    }
    c += "\\pardirnatural";
    switch (style.alignment) {
      case TextAlignment::Left: c += "\\ql"; break;
      case TextAlignment::Right: c += "\\qr"; break;
      case TextAlignment::Center: c += "\\qc"; break;
      case TextAlignment::Justified: c += "\\qj"; break;
      case TextAlignment::Natural: c += "\\qnatural"; break;
    }
    if (style.headIndent) c += "\\li" + std::to_string(twips(style.headIndent));
    if (style.firstLineHeadIndent != style.headIndent)
      c += "\\fi" + std::to_string(twips(style.firstLineHeadIndent - style.headIndent));
    if (style.tailIndent) c += "\\ri" + std::to_string(twips(std::fabs(style.tailIndent)));
    if (style.paragraphSpacing) c += "\\sa" + std::to_string(twips(style.paragraphSpacing));
    if (style.paragraphSpacingBefore) c += "\\sb" + std::to_string(twips(style.paragraphSpacingBefore));
    if (style.lineHeightMultiple)
      c += "\\sl" + std::to_string(std::lround(style.lineHeightMultiple * 240)) + "\\slmult1";
    else if (style.minimumLineHeight)
      c += "\\sl" + std::to_string(twips(style.minimumLineHeight)) + "\\slmult0";
    if (style.maximumLineHeight) c += "\\slmaximum" + std::to_string(twips(style.maximumLineHeight));
    if (style.lineSpacing) c += "\\slleading" + std::to_string(twips(style.lineSpacing));
    if (style.headerLevel) c += "\\outlinelevel" + std::to_string(style.headerLevel - 1);
    if (!style.textLists.empty()) c += "\\ls" + std::to_string(listIndex(style.textLists.front())) + "\\ilvl0";
    return c;
  }

  void escapeText(const std::string& utf8) {
    AttributedString text = AttributedString::fromUTF8(utf8);
    for (char16_t c : text.text()) writeCharacter(c);
  }

  void writeCharacter(char16_t c) {
    switch (c) {
      case u'\\': out_ += "\\\\"; return;
      case u'{': out_ += "\\{"; return;
      case u'}': out_ += "\\}"; return;
      case u'\t': out_ += "\\tab "; return;
      case u'\n':
      case u'\r':
      case u'\u2029': out_ += "\\par\n"; return;
      case u'\u2028': out_ += "\\line "; return;
      default: break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out_ += static_cast<char>(c);
      return;
    }
    int byte = c >= 0x80 ? windows1252Byte(c) : -1;
    if (byte >= 0) {
      static const char kHex[] = "0123456789abcdef";
      out_ += "\\'";
      out_ += kHex[byte >> 4];
      out_ += kHex[byte & 15];
      return;
    }
    if (c < 0x20) return;
    out_ += "\\u" + std::to_string(static_cast<int16_t>(c)) + "?";
  }

  const AttributedString& text_;
  const RTFAttachmentNamer& namer_;
  std::string out_;
  std::vector<std::string> fonts_;
  std::map<std::string, size_t> fontIndex_;
  std::vector<Color> colors_;
  std::vector<TextList> lists_;
  ParagraphStyle paragraph_;
  bool paragraphWritten_ = false;
  std::string lastCharacterControls_;
};

}  // namespace

std::string rtfFromAttributedString(const AttributedString& text, const RTFAttachmentNamer& nameAttachment) {
  return RTFWriter(text, nameAttachment).write();
}

}  // namespace qlt
