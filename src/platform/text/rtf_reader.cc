#include "platform/text/rtf.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <optional>
#include <vector>

#include "platform/foundation/property_list_unicode.h"
#include "platform/foundation/windows_1252.h"

namespace qlt {

namespace {

// Deep enough for any document a person writes; deeper input is refused
// rather than followed.
constexpr size_t kMaximumDepth = 4096;
constexpr long kParameterLimit = 1L << 30;
constexpr size_t kMaximumCollectedText = 64 * 1024;
constexpr size_t kMaximumLists = 1024;

enum class Destination { Text, FontTable, ColorTable, ListTable, ListOverrideTable, FieldInstruction, Graphic, Skip };

struct CharacterFormat {
  long font = 0;
  long halfPoints = 24;
  bool bold = false, italic = false, underline = false, strikethrough = false;
  long foreground = 0, background = 0;
  std::string link;
  bool operator==(const CharacterFormat&) const = default;
};

struct ParagraphFormat {
  ParagraphStyle style;
  long leftIndent = 0, firstIndent = 0, lineSpacingRule = 0;
  bool tabsGiven = false;
  TextAlignment nextTabAlignment = TextAlignment::Left;
  bool operator==(const ParagraphFormat&) const = default;
};

struct GroupState {
  Destination destination = Destination::Text;
  CharacterFormat character;
  ParagraphFormat paragraph;
  uint64_t generation = 0;
  long unicodeSkip = 1;
  bool starred = false;
  bool collectsFieldInstruction = false;
  bool collectsGraphicName = false;
  bool collectsLevelMarker = false;
  std::string fieldLink;
  std::optional<std::string> pendingAttachment;
};

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return {};
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The URL of a "HYPERLINK "url"" field instruction.
std::string hyperlinkTarget(const std::string& instruction) {
  std::string text = trimmed(instruction);
  if (text.rfind("HYPERLINK", 0) != 0) return {};
  size_t open = text.find('"', 9);
  if (open != std::string::npos) {
    size_t close = text.find('"', open + 1);
    return text.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1);
  }
  std::string rest = trimmed(text.substr(9));
  return rest.substr(0, rest.find(' '));
}

class RTFReader {
 public:
  RTFReader(std::string_view data, const RTFAttachmentResolver& resolve) : data_(data), resolve_(resolve) {}

  std::optional<RTFReadResult> read(Error* error) {
    size_t start = 0;
    while (start < data_.size() && std::isspace(static_cast<unsigned char>(data_[start]))) ++start;
    if (data_.substr(start, 5) != "{\\rtf") return fail("The file is not in the Rich Text Format.", error);
    position_ = start;
    while (position_ < data_.size()) {
      char c = data_[position_++];
      if (c == '{') {
        if (stack_.size() >= kMaximumDepth) return fail("The document's groups nest too deeply.", error);
        GroupState copy = stack_.empty() ? GroupState() : stack_.back();
        copy.starred = false;
        copy.collectsFieldInstruction = copy.collectsGraphicName = copy.collectsLevelMarker = false;
        copy.pendingAttachment.reset();
        stack_.push_back(std::move(copy));
        skip_ = 0;
      } else if (c == '}') {
        if (stack_.empty()) continue;
        closeGroup();
        if (stack_.empty()) break;
      } else if (c == '\\') {
        readControl();
      } else if (c != '\r' && c != '\n' && !stack_.empty()) {
        character(fromWindows1252(static_cast<uint8_t>(c)));
      }
    }
    while (!stack_.empty()) closeGroup();
    flush();
    RTFReadResult result{std::move(text_), {{kDocumentTypeDocumentAttribute, kRTFTextDocumentType}}};
    return result;
  }

 private:
  std::nullopt_t fail(const std::string& reason, Error* error) {
    setError(error, Error(kCocoaErrorDomain, kCocoaFileReadCorruptFileError,
                          "The file couldn't be opened because it isn't in the correct format. " + reason));
    return std::nullopt;
  }

  GroupState& top() { return stack_.back(); }

  void closeGroup() {
    GroupState closed = std::move(stack_.back());
    stack_.pop_back();
    if (closed.pendingAttachment) emitAttachment(*closed.pendingAttachment, closed);
    if (stack_.empty()) return;
    if (closed.collectsFieldInstruction) {
      top().fieldLink = hyperlinkTarget(utf8FromUTF16(collected_));
      collected_.clear();
    }
    if (closed.collectsLevelMarker) {
      if (pendingList_.markerFormat.empty()) pendingList_.markerFormat = trimmed(utf8FromUTF16(collected_));
      collected_.clear();
    }
    if (closed.collectsGraphicName) {
      top().pendingAttachment = trimmed(utf8FromUTF16(collected_));
      collected_.clear();
    }
  }

  void readControl() {
    if (position_ >= data_.size()) return;
    char c = data_[position_];
    if (!std::isalpha(static_cast<unsigned char>(c))) {
      ++position_;
      controlSymbol(c);
      return;
    }
    size_t wordStart = position_;
    while (position_ < data_.size() && std::isalpha(static_cast<unsigned char>(data_[position_]))) ++position_;
    std::string_view word = data_.substr(wordStart, std::min<size_t>(position_ - wordStart, 32));
    std::optional<long> parameter;
    bool negative = position_ < data_.size() && data_[position_] == '-' && position_ + 1 < data_.size() &&
                    std::isdigit(static_cast<unsigned char>(data_[position_ + 1]));
    if (negative) ++position_;
    if (position_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[position_]))) {
      long value = 0;
      while (position_ < data_.size() && std::isdigit(static_cast<unsigned char>(data_[position_]))) {
        value = std::min(kParameterLimit, value * 10 + (data_[position_] - '0'));
        ++position_;
      }
      parameter = negative ? -value : value;
    }
    if (position_ < data_.size() && data_[position_] == ' ') ++position_;
    if (!stack_.empty()) controlWord(word, parameter);
  }

  void controlSymbol(char c) {
    if (stack_.empty()) return;
    switch (c) {
      case '\\':
      case '{':
      case '}': character(static_cast<char16_t>(c)); break;
      case '~': character(u'\u00A0'); break;
      case '_': character(u'\u2011'); break;
      case '*': top().starred = true; break;
      case '\n':
      case '\r': character(u'\n'); break;
      case '\'': {
        int high = position_ < data_.size() ? hexValue(data_[position_]) : -1;
        int low = position_ + 1 < data_.size() ? hexValue(data_[position_ + 1]) : -1;
        if (high < 0 || low < 0) break;
        position_ += 2;
        character(fromWindows1252(static_cast<uint8_t>(high * 16 + low)));
        break;
      }
      default: break;
    }
  }

  void changeCharacter(const std::function<void(CharacterFormat&)>& change) {
    change(top().character);
    top().generation = ++generation_;
  }

  void changeParagraph(const std::function<void(ParagraphFormat&)>& change) {
    change(top().paragraph);
    top().generation = ++generation_;
  }

  static double points(long twips) { return static_cast<double>(twips) / 20.0; }

  void controlWord(std::string_view word, std::optional<long> parameter) {
    long n = parameter.value_or(1);
    bool on = !parameter || *parameter != 0;
    GroupState& state = top();
    skip_ = 0;
    if (word == "fonttbl") return setDestination(Destination::FontTable);
    if (word == "colortbl") return setDestination(Destination::ColorTable);
    if (word == "fldinst") {
      setDestination(Destination::FieldInstruction);
      state.collectsFieldInstruction = true;
      collected_.clear();
      return;
    }
    if (word == "fldrslt") {
      setDestination(Destination::Text);
      std::string link = state.fieldLink;
      return changeCharacter([&](CharacterFormat& f) { f.link = link; });
    }
    if (word == "NeXTGraphic") {
      setDestination(Destination::Graphic);
      state.collectsGraphicName = true;
      collected_.clear();
      return;
    }
    static const char* const kSkipped[] = {"stylesheet", "info", "pict", "header", "footer", "headerl", "headerr",
                                           "headerf", "footerl", "footerr", "footerf", "footnote", "revtbl", "rsidtbl", "generator", "xmlnstbl",
                                           "themedata", "colorschememapping", "latentstyles", "datastore",
                                           "object", "shp", "nonshppict", "filetbl", "pgdsctbl", "fldtype"};
    if (std::any_of(std::begin(kSkipped), std::end(kSkipped), [&](const char* skipped) { return word == skipped; }))
      return setDestination(Destination::Skip);

    if (word == "listtable") return setDestination(Destination::ListTable);
    if (word == "listoverridetable") return setDestination(Destination::ListOverrideTable);
    if (word == "levelmarker" && state.destination == Destination::ListTable) {
      setDestination(Destination::Graphic);
      state.collectsLevelMarker = true;
      collected_.clear();
      return;
    }
    if (state.starred && state.destination != Destination::Text) return setDestination(Destination::Skip);
    // Unicode escapes count in every destination that keeps characters,
    // font names included.
    if (!state.starred && word == "uc") {
      state.unicodeSkip = std::clamp(n, 0L, 16L);
      return;
    }
    if (!state.starred && word == "u") {
      if (!parameter) return;
      long value = *parameter;
      if (value < 0) value += 65536;
      character(value >= 0 && value <= 0xFFFF ? static_cast<char16_t>(value) : u'\uFFFD');
      skip_ = state.unicodeSkip;
      return;
    }
    if (state.destination == Destination::ListTable) {
      if (word == "list") pendingList_ = TextList();
      if (word == "levelstartat" && pendingList_.markerFormat.empty()) pendingList_.startingItemNumber = n;
      if (word == "listid" && lists_.size() < kMaximumLists) lists_[n] = pendingList_;
      return;
    }
    if (state.destination == Destination::ListOverrideTable) {
      if (word == "listid") overrideListID_ = n;
      if (word == "ls" && listOverrides_.size() < kMaximumLists) listOverrides_[n] = overrideListID_;
      return;
    }
    if (state.destination == Destination::FontTable) {
      if (word == "f") fontNumber_ = n;
      return;
    }
    if (state.destination == Destination::ColorTable) {
      long component = std::clamp(n, 0L, 255L);
      if (word == "red") colorComponents_[0] = component, colorGiven_ = true;
      if (word == "green") colorComponents_[1] = component, colorGiven_ = true;
      if (word == "blue") colorComponents_[2] = component, colorGiven_ = true;
      return;
    }
    if (state.starred) {
      state.starred = false;
      if (state.destination == Destination::Text) return setDestination(Destination::Skip);
    }

    if (word == "par") return character(u'\n');
    if (word == "line") return character(u'\u2028');
    if (word == "tab") return character(u'\t');
    if (word == "emdash") return character(u'\u2014');
    if (word == "endash") return character(u'\u2013');
    if (word == "bullet") return character(u'\u2022');
    if (word == "lquote") return character(u'\u2018');
    if (word == "rquote") return character(u'\u2019');
    if (word == "ldblquote") return character(u'\u201C');
    if (word == "rdblquote") return character(u'\u201D');

    if (word == "plain") return changeCharacter([&](CharacterFormat& f) { f = CharacterFormat{.link = f.link}; });
    if (word == "b") return changeCharacter([&](CharacterFormat& f) { f.bold = on; });
    if (word == "i") return changeCharacter([&](CharacterFormat& f) { f.italic = on; });
    if (word == "ulnone") return changeCharacter([&](CharacterFormat& f) { f.underline = false; });
    if (word.starts_with("ul") && word != "ulc")
      return changeCharacter([&](CharacterFormat& f) { f.underline = on; });
    if (word == "strike" || word == "striked")
      return changeCharacter([&](CharacterFormat& f) { f.strikethrough = on; });
    if (word == "f") return changeCharacter([&](CharacterFormat& f) { f.font = n; });
    if (word == "fs") return changeCharacter([&](CharacterFormat& f) { f.halfPoints = std::clamp(n, 2L, 3276L); });
    if (word == "cf") return changeCharacter([&](CharacterFormat& f) { f.foreground = n; });
    if (word == "cb" || word == "highlight" || word == "chcbpat")
      return changeCharacter([&](CharacterFormat& f) { f.background = n; });

    if (word == "pard") return changeParagraph([](ParagraphFormat& p) { p = ParagraphFormat(); });
    auto setAlignment = [&](TextAlignment alignment) {
      changeParagraph([&](ParagraphFormat& p) { p.style.alignment = alignment; });
    };
    if (word == "ql") return setAlignment(TextAlignment::Left);
    if (word == "qr") return setAlignment(TextAlignment::Right);
    if (word == "qc") return setAlignment(TextAlignment::Center);
    if (word == "qj") return setAlignment(TextAlignment::Justified);
    if (word == "qnatural") return setAlignment(TextAlignment::Natural);
    if (word == "li") return changeParagraph([&](ParagraphFormat& p) {
      p.leftIndent = n;
      p.style.headIndent = points(n);
      p.style.firstLineHeadIndent = points(p.leftIndent + p.firstIndent);
    });
    if (word == "fi") return changeParagraph([&](ParagraphFormat& p) {
      p.firstIndent = n;
      p.style.firstLineHeadIndent = points(p.leftIndent + p.firstIndent);
    });
    if (word == "ri") return changeParagraph([&](ParagraphFormat& p) { p.style.tailIndent = -points(n); });
    if (word == "sa") return changeParagraph([&](ParagraphFormat& p) { p.style.paragraphSpacing = points(n); });
    if (word == "sb") return changeParagraph([&](ParagraphFormat& p) { p.style.paragraphSpacingBefore = points(n); });
    if (word == "sl") return changeParagraph([&](ParagraphFormat& p) {
      p.lineSpacingRule = n;
      p.style.lineHeightMultiple = 0;
      p.style.minimumLineHeight = points(std::labs(n));
      p.style.maximumLineHeight = n < 0 ? points(-n) : 0;
    });
    if (word == "slmult") return changeParagraph([&](ParagraphFormat& p) {
      if (!on) return;
      p.style.lineHeightMultiple = static_cast<double>(std::labs(p.lineSpacingRule)) / 240.0;
      p.style.minimumLineHeight = p.style.maximumLineHeight = 0;
    });
    if (word == "slmaximum") return changeParagraph([&](ParagraphFormat& p) { p.style.maximumLineHeight = points(n); });
    if (word == "slleading") return changeParagraph([&](ParagraphFormat& p) { p.style.lineSpacing = points(n); });
    if (word == "ls") return changeParagraph([&](ParagraphFormat& p) {
      auto list = listOverrides_.find(n);
      auto found = list == listOverrides_.end() ? lists_.end() : lists_.find(list->second);
      p.style.textLists.clear();
      if (found != lists_.end()) p.style.textLists.push_back(found->second);
    });
    if (word == "outlinelevel")
      return changeParagraph([&](ParagraphFormat& p) { p.style.headerLevel = std::clamp(n, 0L, 8L) + 1; });
    if (word == "tqr") return changeParagraph([](ParagraphFormat& p) { p.nextTabAlignment = TextAlignment::Right; });
    if (word == "tqc") return changeParagraph([](ParagraphFormat& p) { p.nextTabAlignment = TextAlignment::Center; });
    if (word == "tx") return changeParagraph([&](ParagraphFormat& p) {
      if (!p.tabsGiven) p.style.tabStops.clear();
      p.tabsGiven = true;
      constexpr size_t kMaximumTabs = 256;
      if (p.style.tabStops.size() < kMaximumTabs) p.style.tabStops.push_back({p.nextTabAlignment, points(n)});
      p.nextTabAlignment = TextAlignment::Left;
    });
  }

  void setDestination(Destination destination) {
    top().destination = destination;
    top().starred = false;
  }

  void character(char16_t c) {
    GroupState& state = top();
    // The fallback characters after "\u" stand in for it in every
    // destination, link targets and font names included.
    if (skip_ > 0) {
      --skip_;
      return;
    }
    // Control characters other than tabs and line ends are not text, nor
    // part of names and links (and the writer leaves them out).
    if (c < 0x20 && c != u'\t' && c != u'\n') return;
    switch (state.destination) {
      case Destination::Skip:
      case Destination::ListTable:
      case Destination::ListOverrideTable: return;
      case Destination::FieldInstruction:
      case Destination::Graphic:
        if (collected_.size() < kMaximumCollectedText) collected_ += c;
        return;
      case Destination::FontTable:
        if (c == u';') {
          fonts_[fontNumber_] = trimmed(utf8FromUTF16(fontName_));
          fontName_.clear();
        } else if (fontName_.size() < 256 && c >= 0x20) {  // no tabs or line ends in names
          fontName_ += c;
        }
        return;
      case Destination::ColorTable:
        if (c == u';') {
          colors_.push_back(colorGiven_ ? std::optional<Color>(Color::rgb(colorComponents_[0] / 255.0,
                                                                          colorComponents_[1] / 255.0,
                                                                          colorComponents_[2] / 255.0))
                                        : std::nullopt);
          colorComponents_[0] = colorComponents_[1] = colorComponents_[2] = 0;
          colorGiven_ = false;
        }
        return;
      case Destination::Text: break;
    }
    if (state.pendingAttachment) {
      std::string name = std::move(*state.pendingAttachment);
      state.pendingAttachment.reset();
      emitAttachment(name, state);
      return;
    }
    if (c == kAttachmentCharacter) return;
    if (state.generation != pendingGeneration_) {
      if (!pendingText_.empty() && (state.character != pendingCharacter_ || state.paragraph != pendingParagraph_))
        flush();
      pendingCharacter_ = state.character;
      pendingParagraph_ = state.paragraph;
      pendingGeneration_ = state.generation;
    }
    pendingText_ += c;
  }

  void emitAttachment(const std::string& name, const GroupState& state) {
    TextAttachmentPointer attachment = resolve_ ? resolve_(name) : nullptr;
    if (!attachment) return;
    flush();
    TextAttributes attributes = attributesFor(state.character, state.paragraph);
    attributes[kAttachmentAttributeName] = std::move(attachment);
    text_.appendText(std::u16string(1, kAttachmentCharacter), attributes);
    pendingGeneration_ = ~uint64_t(0);
  }

  TextAttributes attributesFor(const CharacterFormat& character, const ParagraphFormat& paragraph) const {
    TextAttributes attributes;
    auto fontName = fonts_.find(character.font);
    Font base(fontName == fonts_.end() ? "Helvetica" : fontName->second, character.halfPoints / 2.0);
    attributes[kFontAttributeName] =
        base.withTraits(character.bold || base.isBold(), character.italic || base.isItalic());
    if (paragraph.style != ParagraphStyle::defaultStyle()) attributes[kParagraphStyleAttributeName] = paragraph.style;
    auto color = [&](long index) -> std::optional<Color> {
      if (index < 0 || static_cast<size_t>(index) >= colors_.size()) return std::nullopt;
      return colors_[static_cast<size_t>(index)];
    };
    if (auto foreground = color(character.foreground)) attributes[kForegroundColorAttributeName] = *foreground;
    if (auto background = color(character.background)) attributes[kBackgroundColorAttributeName] = *background;
    if (character.underline) attributes[kUnderlineStyleAttributeName] = int64_t(1);
    if (character.strikethrough) attributes[kStrikethroughStyleAttributeName] = int64_t(1);
    if (!character.link.empty()) attributes[kLinkAttributeName] = character.link;
    return attributes;
  }

  void flush() {
    if (pendingText_.empty()) return;
    text_.appendText(pendingText_, attributesFor(pendingCharacter_, pendingParagraph_));
    pendingText_.clear();
  }

  std::string_view data_;
  const RTFAttachmentResolver& resolve_;
  size_t position_ = 0;
  std::vector<GroupState> stack_;
  uint64_t generation_ = 0;
  long skip_ = 0;

  std::map<long, std::string> fonts_;
  long fontNumber_ = 0;
  std::u16string fontName_;
  // The colour table; an entry without components is the automatic colour.
  std::vector<std::optional<Color>> colors_;
  long colorComponents_[3] = {0, 0, 0};
  bool colorGiven_ = false;
  std::u16string collected_;
  std::map<long, TextList> lists_;
  std::map<long, long> listOverrides_;
  TextList pendingList_;
  long overrideListID_ = 0;

  AttributedString text_;
  std::u16string pendingText_;
  CharacterFormat pendingCharacter_;
  ParagraphFormat pendingParagraph_;
  uint64_t pendingGeneration_ = ~uint64_t(0);
};

}  // namespace

std::optional<RTFReadResult> readRTF(std::string_view data, const RTFAttachmentResolver& resolve, Error* error) {
  return RTFReader(data, resolve).read(error);
}

}  // namespace qlt
