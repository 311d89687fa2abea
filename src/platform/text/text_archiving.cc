#include "platform/text/text_archiving.h"

#include <cstdio>
#include <mutex>
#include <sstream>

#include "platform/files/file_wrapper_coding.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/property_list_unicode.h"

namespace qlt {

namespace {

constexpr const char* kFontClass = "NSFont";
constexpr const char* kColorClass = "NSColor";
constexpr const char* kParagraphStyleClass = "NSParagraphStyle";
constexpr const char* kMutableParagraphStyleClass = "NSMutableParagraphStyle";
constexpr const char* kTextTabClass = "NSTextTab";
constexpr const char* kTextListClass = "NSTextList";
constexpr const char* kAttributedStringClass = "NSAttributedString";
constexpr const char* kMutableAttributedStringClass = "NSMutableAttributedString";

constexpr int64_t kCalibratedRGBSpace = 1;
constexpr int64_t kDeviceRGBSpace = 2;
constexpr int64_t kCatalogSpace = 6;

std::mutex& classesMutex() {
  static auto& mutex = *new std::mutex;
  return mutex;
}

ClassNameSet& attachmentClasses() {
  static auto& classes = *new ClassNameSet{TextAttachment::kClassName};
  return classes;
}

std::nullptr_t decodingFailed(Error* error, const std::string& what) {
  setError(error, Error(kCocoaErrorDomain, kCocoaCoderReadCorruptError, "The data couldn't be read: " + what));
  return nullptr;
}

// Reads `key` into `field` when present; false when present but unreadable.
bool readDouble(KeyedUnarchiver& u, const char* key, double& field, Error* error) {
  if (!u.containsValue(key)) return true;
  auto value = u.decodeDouble(key, error);
  if (value) field = *value;
  return value.has_value();
}

bool readInteger(KeyedUnarchiver& u, const char* key, int64_t& field, Error* error) {
  if (!u.containsValue(key)) return true;
  auto value = u.decodeInt64(key, error);
  if (value) field = *value;
  return value.has_value();
}

class FontCoding final : public Codable {
 public:
  explicit FontCoding(Font font) : font(std::move(font)) {}
  std::string className() const override { return kFontClass; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("NSName", font.name());
    archiver.encodeDouble("NSSize", font.pointSize());
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    auto name = u.decodeString("NSName", error);
    double size = 12;
    if (!name || !readDouble(u, "NSSize", size, error)) return nullptr;
    return std::make_shared<FontCoding>(Font(*name, size));
  }
  Font font;
};

class ColorCoding final : public Codable {
 public:
  explicit ColorCoding(Color color) : color(color) {}
  std::string className() const override { return kColorClass; }
  void encode(KeyedArchiver& archiver) const override {
    if (color.isDynamic()) {
      archiver.encodeInt64("NSColorSpace", kCatalogSpace);
      archiver.encodeString("NSCatalogName", "System");
      archiver.encodeString("NSColorName", color.dynamic() == Color::Dynamic::TextColor ? "textColor"
                                                                                        : "textBackgroundColor");
      return;
    }
    char components[128];
    std::snprintf(components, sizeof components, "%.17g %.17g %.17g %.17g", color.red(), color.green(),
                  color.blue(), color.alpha());
    archiver.encodeInt64("NSColorSpace", kCalibratedRGBSpace);
    std::string text(components);
    archiver.encodeData("NSRGB", Bytes(text.begin(), text.end()));
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    int64_t space = 0;
    if (!readInteger(u, "NSColorSpace", space, error)) return nullptr;
    if (space == kCatalogSpace) {
      auto name = u.decodeString("NSColorName", error);
      if (!name) return nullptr;
      if (*name == "textColor") return std::make_shared<ColorCoding>(Color::textColor());
      if (*name == "textBackgroundColor") return std::make_shared<ColorCoding>(Color::textBackgroundColor());
      return decodingFailed(error, "unknown catalogue colour '" + *name + "'.");
    }
    if (space != kCalibratedRGBSpace && space != kDeviceRGBSpace)
      return decodingFailed(error, "unsupported colour space " + std::to_string(space) + ".");
    auto data = u.decodeData("NSRGB", error);
    if (!data) return nullptr;
    std::istringstream stream(std::string(data->begin(), data->end()));
    double values[4] = {0, 0, 0, 1};
    for (double& value : values)
      if (!(stream >> value)) break;
    return std::make_shared<ColorCoding>(Color::rgb(values[0], values[1], values[2], values[3]));
  }
  Color color;
};

class TextTabCoding final : public Codable {
 public:
  explicit TextTabCoding(TextTab tab) : tab(tab) {}
  std::string className() const override { return kTextTabClass; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeDouble("NSLocation", tab.location);
    archiver.encodeInt64("NSTextAlignment", static_cast<int64_t>(tab.alignment));
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    TextTab tab;
    int64_t alignment = static_cast<int64_t>(TextAlignment::Natural);
    if (!readDouble(u, "NSLocation", tab.location, error) || !readInteger(u, "NSTextAlignment", alignment, error))
      return nullptr;
    if (alignment < 0 || alignment > 4) return decodingFailed(error, "bad tab alignment.");
    tab.alignment = static_cast<TextAlignment>(alignment);
    return std::make_shared<TextTabCoding>(tab);
  }
  TextTab tab;
};

class TextListCoding final : public Codable {
 public:
  explicit TextListCoding(TextList list) : list(std::move(list)) {}
  std::string className() const override { return kTextListClass; }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("NSMarker", list.markerFormat);
    archiver.encodeInt64("NSStartingItemNumber", list.startingItemNumber);
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    auto marker = u.decodeString("NSMarker", error);
    int64_t start = 1;
    if (!marker || !readInteger(u, "NSStartingItemNumber", start, error)) return nullptr;
    return std::make_shared<TextListCoding>(TextList{*marker, static_cast<long>(start)});
  }
  TextList list;
};

class ParagraphStyleCoding final : public Codable {
 public:
  explicit ParagraphStyleCoding(ParagraphStyle style) : style(std::move(style)) {}
  std::string className() const override { return kMutableParagraphStyleClass; }
  std::vector<std::string> classHierarchy() const override { return {kMutableParagraphStyleClass, kParagraphStyleClass}; }
  void encode(KeyedArchiver& a) const override {
    a.encodeInt64("NSAlignment", static_cast<int64_t>(style.alignment));
    a.encodeDouble("NSFirstLineHeadIndent", style.firstLineHeadIndent);
    a.encodeDouble("NSHeadIndent", style.headIndent);
    a.encodeDouble("NSTailIndent", style.tailIndent);
    a.encodeDouble("NSLineHeightMultiple", style.lineHeightMultiple);
    a.encodeDouble("NSLineSpacing", style.lineSpacing);
    a.encodeDouble("NSParagraphSpacing", style.paragraphSpacing);
    a.encodeDouble("NSParagraphSpacingBefore", style.paragraphSpacingBefore);
    a.encodeDouble("NSMinLineHeight", style.minimumLineHeight);
    a.encodeDouble("NSMaxLineHeight", style.maximumLineHeight);
    a.encodeInt64("NSWritingDirection", static_cast<int64_t>(style.baseWritingDirection));
    a.encodeInt64("NSHeaderLevel", style.headerLevel);
    a.encodeDouble("NSDefaultTabInterval", style.defaultTabInterval);
    std::vector<ArchiveObject> tabs, lists;
    for (const TextTab& tab : style.tabStops) tabs.emplace_back(std::make_shared<TextTabCoding>(tab));
    for (const TextList& list : style.textLists) lists.emplace_back(std::make_shared<TextListCoding>(list));
    a.encodeObject("NSTabs", ArchiveObject::array(std::move(tabs)));
    a.encodeObject("NSTextLists", ArchiveObject::array(std::move(lists)));
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    ParagraphStyle s;
    int64_t alignment = static_cast<int64_t>(s.alignment), direction = static_cast<int64_t>(s.baseWritingDirection),
            header = 0;
    bool read = readInteger(u, "NSAlignment", alignment, error) &&
                readDouble(u, "NSFirstLineHeadIndent", s.firstLineHeadIndent, error) &&
                readDouble(u, "NSHeadIndent", s.headIndent, error) && readDouble(u, "NSTailIndent", s.tailIndent, error) &&
                readDouble(u, "NSLineHeightMultiple", s.lineHeightMultiple, error) &&
                readDouble(u, "NSLineSpacing", s.lineSpacing, error) &&
                readDouble(u, "NSParagraphSpacing", s.paragraphSpacing, error) &&
                readDouble(u, "NSParagraphSpacingBefore", s.paragraphSpacingBefore, error) &&
                readDouble(u, "NSMinLineHeight", s.minimumLineHeight, error) &&
                readDouble(u, "NSMaxLineHeight", s.maximumLineHeight, error) &&
                readInteger(u, "NSWritingDirection", direction, error) &&
                readInteger(u, "NSHeaderLevel", header, error) &&
                readDouble(u, "NSDefaultTabInterval", s.defaultTabInterval, error);
    if (!read) return nullptr;
    if (alignment < 0 || alignment > 4 || direction < -1 || direction > 1)
      return decodingFailed(error, "bad paragraph alignment or direction.");
    s.alignment = static_cast<TextAlignment>(alignment);
    s.baseWritingDirection = static_cast<WritingDirection>(direction);
    s.headerLevel = static_cast<long>(header);
    if (u.containsValue("NSTabs")) {
      auto tabs = u.decodeObjectOfClasses("NSTabs", {"NSArray", kTextTabClass}, error);
      if (!tabs || !tabs->array()) return tabs ? decodingFailed(error, "tabs are not an array.") : nullptr;
      s.tabStops.clear();
      for (const ArchiveObject& element : tabs->array()->elements)
        if (auto tab = element.objectAs<TextTabCoding>()) s.tabStops.push_back(tab->tab);
    }
    if (u.containsValue("NSTextLists")) {
      auto lists = u.decodeObjectOfClasses("NSTextLists", {"NSArray", kTextListClass}, error);
      if (!lists || !lists->array()) return lists ? decodingFailed(error, "text lists are not an array.") : nullptr;
      for (const ArchiveObject& element : lists->array()->elements)
        if (auto list = element.objectAs<TextListCoding>()) s.textLists.push_back(list->list);
    }
    return std::make_shared<ParagraphStyleCoding>(std::move(s));
  }
  ParagraphStyle style;
};

void appendVarint(Bytes& out, uint64_t value) {
  do {
    uint8_t byte = value & 0x7F;
    value >>= 7;
    out.push_back(value ? (byte | 0x80) : byte);
  } while (value);
}

bool readVarint(const Bytes& in, size_t& offset, uint64_t& value) {
  value = 0;
  for (int shift = 0; shift < 64 && offset < in.size(); shift += 7) {
    uint8_t byte = in[offset++];
    value |= static_cast<uint64_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return true;
  }
  return false;
}

class AttributedStringCoding final : public Codable {
 public:
  explicit AttributedStringCoding(AttributedString text) : text(std::move(text)) {}
  std::string className() const override { return kMutableAttributedStringClass; }
  std::vector<std::string> classHierarchy() const override {
    return {kMutableAttributedStringClass, kAttributedStringClass};
  }
  void encode(KeyedArchiver& archiver) const override {
    archiver.encodeString("NSString", text.string());
    std::vector<const TextAttributes*> distinct;
    std::vector<ArchiveObject> dictionaries;
    Bytes info;
    for (const AttributedString::Run& run : text.runs()) {
      size_t index = distinct.size();
      constexpr size_t kDeduplicationLimit = 256;
      for (size_t i = 0; i < distinct.size() && distinct.size() < kDeduplicationLimit; ++i)
        if (*distinct[i] == run.attributes) index = i;
      if (index == distinct.size()) {
        distinct.push_back(&run.attributes);
        std::vector<std::pair<ArchiveObject, ArchiveObject>> entries;
        for (const auto& [name, value] : run.attributes) entries.emplace_back(name, archiveValue(value));
        dictionaries.push_back(ArchiveObject::dictionary(std::move(entries)));
      }
      appendVarint(info, run.length);
      appendVarint(info, index);
    }
    archiver.encodeObject("NSAttributes", ArchiveObject::array(std::move(dictionaries)));
    archiver.encodeData("NSAttributeInfo", info);
  }
  static ArchiveObject archiveValue(const AttributeValue& value) {
    if (auto s = std::get_if<std::string>(&value)) return *s;
    if (auto i = std::get_if<int64_t>(&value)) return ArchiveObject(static_cast<long long>(*i));
    if (auto d = std::get_if<double>(&value)) return *d;
    if (auto b = std::get_if<bool>(&value)) return *b;
    return ArchiveObject(codableForAttributeValue(value));
  }
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& u, Error* error) {
    auto string = u.decodeString("NSString", error);
    if (!string) return nullptr;
    auto text16 = utf16FromUTF8(*string);
    if (!text16) return decodingFailed(error, "the string is not UTF-8.");
    AttributedString result;
    if (!u.containsValue("NSAttributeInfo")) {
      return std::make_shared<AttributedStringCoding>(AttributedString(std::move(*text16)));
    }
    ClassNameSet allowed = attributeValueClasses();
    auto dictionaries = u.decodeObjectOfClasses("NSAttributes", allowed, error);
    auto info = dictionaries ? u.decodeData("NSAttributeInfo", error) : std::nullopt;
    if (!info) return nullptr;
    if (!dictionaries->array()) return decodingFailed(error, "attributes are not an array.");
    std::vector<TextAttributes> sets;
    for (const ArchiveObject& element : dictionaries->array()->elements) {
      const ArchiveDictionary* dictionary = element.dictionary();
      if (!dictionary) return decodingFailed(error, "an attribute set is not a dictionary.");
      TextAttributes attributes;
      for (const auto& [key, value] : dictionary->entries) {
        auto converted = attributeValueFromArchive(value);
        if (!key.string() || !converted) return decodingFailed(error, "an attribute is not readable.");
        attributes[*key.string()] = std::move(*converted);
      }
      sets.push_back(std::move(attributes));
    }
    size_t offset = 0, covered = 0;
    std::u16string_view text(*text16);
    while (offset < info->size()) {
      uint64_t length = 0, index = 0;
      if (!readVarint(*info, offset, length) || !readVarint(*info, offset, index) || index >= sets.size() ||
          length > text.size() - covered)
        return decodingFailed(error, "the attribute runs do not fit the string.");
      result.appendText(text.substr(covered, length), sets[index]);
      covered += length;
    }
    if (covered != text.size()) return decodingFailed(error, "the attribute runs do not cover the string.");
    return std::make_shared<AttributedStringCoding>(std::move(result));
  }
  AttributedString text;
};

}  // namespace

void registerTextClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    CodableRegistry& registry = CodableRegistry::global();
    FileWrapperCoding::registerClass(registry);
    registry.registerClass(kFontClass, FontCoding::decode);
    registry.registerClass(kColorClass, ColorCoding::decode);
    registry.registerClass(kTextTabClass, TextTabCoding::decode);
    registry.registerClass(kTextListClass, TextListCoding::decode);
    registry.registerClass(kParagraphStyleClass, ParagraphStyleCoding::decode);
    registry.registerClass(kMutableParagraphStyleClass, ParagraphStyleCoding::decode);
    registry.registerClass(kAttributedStringClass, AttributedStringCoding::decode);
    registry.registerClass(kMutableAttributedStringClass, AttributedStringCoding::decode);
    registry.registerClass(TextAttachment::kClassName, TextAttachment::decode);
  });
}

void registerTextAttachmentClass(const std::string& className, CodableFactory factory) {
  registerTextClasses();
  CodableRegistry::global().registerClass(className, std::move(factory));
  std::lock_guard lock(classesMutex());
  attachmentClasses().insert(className);
}

ClassNameSet attributeValueClasses() {
  ClassNameSet classes{"NSArray", "NSDictionary", "NSString", "NSNumber", kFontClass, kColorClass,
                       kParagraphStyleClass};
  std::lock_guard lock(classesMutex());
  classes.insert(attachmentClasses().begin(), attachmentClasses().end());
  return classes;
}

std::shared_ptr<Codable> codableForColor(const Color& color) { return std::make_shared<ColorCoding>(color); }

std::shared_ptr<Codable> codableForParagraphStyle(const ParagraphStyle& style) {
  return std::make_shared<ParagraphStyleCoding>(style);
}

std::shared_ptr<Codable> codableForAttributeValue(const AttributeValue& value) {
  if (auto font = std::get_if<Font>(&value)) return std::make_shared<FontCoding>(*font);
  if (auto color = std::get_if<Color>(&value)) return codableForColor(*color);
  if (auto style = std::get_if<ParagraphStyle>(&value)) return codableForParagraphStyle(*style);
  if (auto attachment = std::get_if<TextAttachmentPointer>(&value)) return *attachment;
  return nullptr;
}

std::optional<AttributeValue> attributeValueFromArchive(const ArchiveObject& object) {
  if (auto s = object.string()) return AttributeValue(*s);
  if (auto i = object.integer()) return AttributeValue(*i);
  if (auto d = object.real()) return AttributeValue(*d);
  if (auto b = object.boolean()) return AttributeValue(*b);
  if (auto font = object.objectAs<FontCoding>()) return AttributeValue(font->font);
  if (auto color = colorFromArchive(object)) return AttributeValue(*color);
  if (auto style = paragraphStyleFromArchive(object)) return AttributeValue(*style);
  if (auto attachment = object.objectAs<TextAttachment>()) return AttributeValue(attachment);
  return std::nullopt;
}

std::optional<Color> colorFromArchive(const ArchiveObject& object) {
  auto color = object.objectAs<ColorCoding>();
  return color ? std::optional<Color>(color->color) : std::nullopt;
}

std::optional<ParagraphStyle> paragraphStyleFromArchive(const ArchiveObject& object) {
  auto style = object.objectAs<ParagraphStyleCoding>();
  return style ? std::optional<ParagraphStyle>(style->style) : std::nullopt;
}

std::optional<Bytes> archivedAttributedString(const AttributedString& text, bool requiresSecureCoding, Error* error) {
  registerTextClasses();
  return KeyedArchiver::archivedData(ArchiveObject(std::make_shared<AttributedStringCoding>(text)),
                                     requiresSecureCoding, error);
}

std::optional<AttributedString> unarchivedAttributedString(const Bytes& bytes, const ClassNameSet& allowedClasses,
                                                           Error* error) {
  registerTextClasses();
  auto root = KeyedUnarchiver::unarchivedObject(bytes, allowedClasses, error);
  if (!root) return std::nullopt;
  auto coding = root->objectAs<AttributedStringCoding>();
  if (!coding) {
    setError(error, Error(kCocoaErrorDomain, kCocoaCoderReadCorruptError,
                          "The data couldn't be read because the root object is not an attributed string."));
    return std::nullopt;
  }
  return std::move(coding->text);
}

}  // namespace qlt
