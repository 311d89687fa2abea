#include "richtext/note_text_style.h"

#include <algorithm>

#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/uuid.h"
#include "platform/text/text_archiving.h"

namespace qlt {

namespace {

bool equalValues(const AttributeValue& a, const AttributeValue& b) {
  auto colorA = std::get_if<Color>(&a), colorB = std::get_if<Color>(&b);
  if (colorA && colorB) return colorA->isApproximatelyEqual(*colorB);
  auto styleA = std::get_if<ParagraphStyle>(&a), styleB = std::get_if<ParagraphStyle>(&b);
  if (styleA && styleB) {
    ParagraphStyle left = *styleA, right = *styleB;
    left.baseWritingDirection = right.baseWritingDirection = WritingDirection::Natural;
    return left == right;
  }
  return a == b;
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

void NoteTextStyle::setType(int64_t type) {
  type_ = type;
  if (type == Custom && customStyleIdentifier_.empty()) customStyleIdentifier_ = newUUIDString();
}

std::string NoteTextStyle::name() const {
  switch (type_) {
    case Body: return localizedString("Body");
    case Title: return localizedString("Title");
    case Heading: return localizedString("Heading");
    case Monospaced: return localizedString("Monospaced");
    case Subheading: return localizedString("Subheading");
    default: return name_;
  }
}

std::string NoteTextStyle::identifier() const {
  switch (type_) {
    case Body: return "QLTNoteStyleIdentifierBody";
    case Title: return "QLTNoteStyleIdentifierTitle";
    case Heading: return "QLTNoteStyleIdentifierHeading";
    case Monospaced: return "QLTNoteStyleIdentifierMonospace";
    case Subheading: return "QLTNoteStyleIdentifierSubheading";
    default: return customStyleIdentifier_;
  }
}

void NoteTextStyle::setForegroundColor(const Color& color) {
  bool standard = !color.isDynamic() && (color == Color::black() || color == Color::white());
  foregroundColor_ = standard || color.isDynamic() ? std::nullopt : std::optional<Color>(color);
}

std::vector<std::string> NoteTextStyle::otherAllowedAttributeNames() const {
  std::vector<std::string> names{kBackgroundColorAttributeName,   kLigatureAttributeName,
                                 kAttachmentAttributeName,        kLinkAttributeName,
                                 kWritingDirectionAttributeName,  kVerticalGlyphFormAttributeName};
  if (!applyToParagraph_) names.push_back(kParagraphStyleAttributeName);
  return names;
}

TextAttributes NoteTextStyle::attributes() const {
  return {{kFontAttributeName, font()},
          {kParagraphStyleAttributeName, paragraphStyle_},
          {kForegroundColorAttributeName, foregroundColor()},
          {kUnderlineStyleAttributeName, underlineStyle_},
          {kStrikethroughStyleAttributeName, strikethrough_},
          {kNoteTextStyleIdentifierKey, identifier()}};
}

TextAttributes NoteTextStyle::attributesWithOtherAttributes(const TextAttributes& run) const {
  TextAttributes result = attributes();
  for (const std::string& name : otherAllowedAttributeNames())
    if (auto found = run.find(name); found != run.end()) result[name] = found->second;
  if (!applyToParagraph_) {
    auto own = attributeAs<ParagraphStyle>(run, kParagraphStyleAttributeName);
    ParagraphStyle merged = own ? *own : ParagraphStyle::defaultStyle();
    merged.copyLineSpacing(paragraphStyle_);
    result[kParagraphStyleAttributeName] = merged;
  }
  return result;
}

bool NoteTextStyle::matchesAttributes(const TextAttributes& run, const std::vector<std::string>& ignoring) const {
  TextAttributes own = attributes();
  for (const auto& [name, value] : run) {
    if (name == kParagraphStyleAttributeName && !applyToParagraph_) {
      auto style = std::get_if<ParagraphStyle>(&value);
      if (!style || !style->hasSameLineSpacing(paragraphStyle_)) return false;
    }
    if (contains(ignoring, name)) continue;
    auto mine = own.find(name);
    if (mine == own.end() || !equalValues(mine->second, value)) return false;
  }
  return true;
}

bool NoteTextStyle::matchesAttributes(const TextAttributes& run) const {
  return matchesAttributes(run, otherAllowedAttributeNames());
}

bool NoteTextStyle::matchesStyle(const NoteTextStyle& other) const { return matchesAttributes(other.attributes(), {}); }

bool NoteTextStyle::shouldSaveToDefaults() const {
  if (type_ == Custom) return true;
  auto standard = defaultStyleForType(type_);
  return !standard || !matchesStyle(*standard);
}

std::optional<NoteTextStyle> NoteTextStyle::defaultStyleForType(int64_t type) {
  NoteTextStyle style;
  style.setType(type);
  ParagraphStyle paragraph = ParagraphStyle::defaultStyle();
  switch (type) {
    case Title:
      style.font_ = Font::withFamily("Helvetica Neue", 17, true);
      paragraph.headerLevel = 1;
      break;
    case Heading:
      style.font_ = Font::withFamily("Helvetica Neue", 14, true);
      paragraph.paragraphSpacing = 2;
      paragraph.headerLevel = 2;
      break;
    case Subheading:
      style.font_ = Font::withFamily("Helvetica Neue", 13, true);
      paragraph.paragraphSpacing = 2;
      paragraph.headerLevel = 3;
      break;
    case Body: style.font_ = Font::withFamily("Helvetica Neue", 12); break;
    case Monospaced:
      style.font_ = Font::withFamily("Menlo", 12);
      paragraph.lineSpacing = 1;
      break;
    default: return std::nullopt;
  }
  style.paragraphStyle_ = paragraph;
  style.applyToParagraph_ = style.resetOnNewLine_ = type == Title || type == Heading || type == Subheading;
  return style;
}

double NoteTextStyle::scaleFactorForNoteTextSize(int64_t size) {
  switch (size) {
    case 1: return 1.0;
    case 2: return 13.0 / 12.0;
    case 3: return 1.25;
    case 4: return 17.0 / 12.0;
    default: return 0.875;
  }
}

void NoteTextStyle::encode(KeyedArchiver& a) const {
  a.encodeInt64("type", type_);
  a.encodeString("name", name_);
  a.encodeString("fontName", fontName());
  a.encodeDouble("fontSize", fontSize());
  a.encodeObject("paragraphStyle", ArchiveObject(codableForParagraphStyle(paragraphStyle_)));
  a.encodeInt64("underlineStyle", underlineStyle_);
  a.encodeInt64("strikethrough", strikethrough_);
  if (foregroundColor_) {
    std::vector<std::pair<ArchiveObject, ArchiveObject>> entries;
    PropertyList components = foregroundColor_->propertyListRepresentation();
    for (const auto& [key, value] : *components.dictionary())
      entries.emplace_back(key, value.numberValue().value_or(0));
    a.encodeObject("foregroundColor", ArchiveObject::dictionary(std::move(entries)));
  }
  a.encodeBool("resetOnNewLine", resetOnNewLine_);
  a.encodeBool("applyToParagraph", applyToParagraph_);
  if (!customStyleIdentifier_.empty()) a.encodeString("customStyleIdentifier", customStyleIdentifier_);
}

std::shared_ptr<Codable> NoteTextStyle::decode(KeyedUnarchiver& u, Error* error) {
  auto style = std::make_shared<NoteTextStyle>();
  auto type = u.decodeInt64("type", error);
  if (!type) return nullptr;
  style->type_ = *type;
  auto optionalString = [&](const char* key, std::string& field) {
    if (!u.containsValue(key)) return true;
    auto value = u.decodeString(key, error);
    if (value) field = *value;
    return value.has_value();
  };
  auto optionalInteger = [&](const char* key, int64_t& field) {
    if (!u.containsValue(key)) return true;
    auto value = u.decodeInt64(key, error);
    if (value) field = *value;
    return value.has_value();
  };
  auto optionalBool = [&](const char* key, bool& field) {
    if (!u.containsValue(key)) return true;
    auto value = u.decodeBool(key, error);
    if (value) field = *value;
    return value.has_value();
  };
  std::string fontName;
  double fontSize = 12;
  if (!optionalString("name", style->name_) || !optionalString("fontName", fontName) ||
      !optionalString("customStyleIdentifier", style->customStyleIdentifier_) ||
      !optionalInteger("underlineStyle", style->underlineStyle_) ||
      !optionalInteger("strikethrough", style->strikethrough_) ||
      !optionalBool("resetOnNewLine", style->resetOnNewLine_) ||
      !optionalBool("applyToParagraph", style->applyToParagraph_))
    return nullptr;
  if (u.containsValue("fontSize")) {
    auto size = u.decodeDouble("fontSize", error);
    if (!size) return nullptr;
    fontSize = *size;
  }
  style->font_ = fontName.empty() ? Font::withFamily("Helvetica Neue", fontSize) : Font(fontName, fontSize);
  if (u.containsValue("paragraphStyle")) {
    auto object = u.decodeObjectOfClasses("paragraphStyle", {"NSParagraphStyle"}, error);
    if (!object) return nullptr;
    if (auto paragraph = paragraphStyleFromArchive(*object)) style->paragraphStyle_ = *paragraph;
  }
  if (u.containsValue("foregroundColor")) {
    auto object = u.decodeObjectOfClasses("foregroundColor", {"NSDictionary", "NSNumber", "NSString"}, error);
    if (!object) return nullptr;
    PropertyListDictionary components;
    if (auto dictionary = object->dictionary())
      for (const auto& [key, value] : dictionary->entries)
        if (key.string() && (value.real() || value.integer()))
          components[*key.string()] = value.real() ? *value.real() : static_cast<double>(*value.integer());
    style->foregroundColor_ = Color::fromPropertyListRepresentation(components);
  }
  return style;
}

}  // namespace qlt
