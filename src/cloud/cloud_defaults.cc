#include "cloud/cloud_defaults.h"

#include <algorithm>
#include <set>

#include "platform/defaults/user_defaults.h"
#include "platform/defaults/user_defaults_archiving.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/log.h"
#include "platform/objectstore/managed_object_classes.h"
#include "platform/objectstore/managed_object_context.h"
#include "platform/objectstore/property_description.h"
#include "platform/text/color.h"
#include "platform/text/text_archiving.h"
#include "richtext/note_text_style.h"
#include "store/library_model.h"
#include "store/library_model_constants.h"

namespace qlt {
namespace {

constexpr const char* kNoteTextStylesKey = "QLTNoteTextStyles";

const std::vector<std::pair<std::string, std::string>>& mapping() {
  static const std::vector<std::pair<std::string, std::string>> pairs = {
      {"QLTAutoRenameNotes", "autoRenameNotes"},
      {"QLTAutoRenameStationery", "autoRenameStationery"},
      {kNoteTextStylesKey, "noteTextStylesData"},
      {"QLTNoteDefaultBackgroundColor", "noteDefaultBackgroundColorData"},
      {"QLTNoteLinkTextColor", "noteLinkColorData"},
      {"QLTNoteLinkUnderline", "noteLinkUnderline"},
      {"QLTNoteTextStyleDefaultIdentifier", "defaultNoteTextStyleIdentifier"},
      {"QLTRichTextFontName", "richTextFontName"},
      {"QLTRichTextFontSize", "richTextFontSize"},
      {"QLTPlainTextFontName", "plainTextFontName"},
      {"QLTPlainTextFontSize", "plainTextFontSize"},
      {"QLTTextViewHighlightColor", "defaultTextHighlightColorData"},
      {"QLTPDFDefaultHighlightColor", "defaultPDFHighlightColorData"},
      {"QLTMarkdownDefaultViewMode", "markdownDefaultViewMode"},
      {"QLTMarkdownEditorStyleName", "markdownEditorStyleName"},
      {"QLTMarkdownPreviewStyleName", "markdownPreviewStyleName"},
      {"QLTMarkdownFontName", "markdownFontName"},
      {"QLTMarkdownFontSize", "markdownFontSize"},
      {"QLTMarkdownDefaultEmphasis", "markdownDefaultEmphasis"},
      {"QLTMarkdownDefaultStrong", "markdownDefaultStrong"},
      {"QLTMarkdownDefaultBullet", "markdownDefaultBullet"},
      {"QLTMarkdownCodeBlockStyle", "markdownCodeBlockStyle"},
      {"QLTAllowNumericHashtags", "allowNumericHashtags"},
      {"QLTUseHashtagsInTextFiles", "useHashtagsInTextFiles"},
      {"QLTWebLinkRememberLastUsedSettings", "webLinkRememberLastUsedSettings"},
      {"QLTWebLinkSavePaginated", "webLinkSavePaginated"},
      {"QLTWebLinkMinWidth", "webLinkMinWidth"},
      {"QLTWebLinkMinHeight", "webLinkMinHeight"},
      {"QLTWebLinkSaveForOffline", "webLinkSaveForOffline"},
      {"QLTWebLinkSaveFormat", "webLinkSaveFormat"},
      {"QLTWebLinkSaveMinimalIfPossible", "webLinkSaveMinimal"},
  };
  return pairs;
}

std::optional<Value> valueFromPropertyList(const PropertyList& value) {
  if (auto text = value.string()) return Value(*text);
  if (auto integer = value.integer()) return Value(*integer);
  if (auto real = value.real()) return Value(*real);
  if (auto boolean = value.boolean()) return Value(*boolean);
  if (auto data = value.data()) return Value(*data);
  if (auto date = value.date()) return Value(*date);
  return std::nullopt;
}

std::optional<PropertyList> propertyListFromValue(const Value& value) {
  if (auto text = value.string()) return PropertyList(*text);
  if (auto integer = value.integer()) return PropertyList(static_cast<long long>(*integer));
  if (auto real = value.real()) return PropertyList(*real);
  if (auto boolean = value.boolean()) return PropertyList(*boolean);
  if (auto data = value.data()) return PropertyList(*data);
  if (auto date = value.date()) return PropertyList(*date);
  return std::nullopt;
}

std::optional<double> numberOf(const PropertyList& value) {
  if (auto integer = value.integer()) return static_cast<double>(*integer);
  if (auto real = value.real()) return *real;
  if (auto boolean = value.boolean()) return *boolean ? 1.0 : 0.0;
  return std::nullopt;
}

bool sameSetting(const PropertyList& a, const PropertyList& b) {
  std::optional<double> x = numberOf(a), y = numberOf(b);
  if (x && y) return *x == *y;
  return a == b;
}

// A colour from its secure archive as user defaults keep it.
std::optional<Color> colorFromDefaults(const std::string& key) {
  registerTextClasses();
  Error error;
  std::optional<ArchiveObject> object = unarchiveObjectOfClass(UserDefaults::standard(), "NSColor", key, &error);
  return object ? colorFromArchive(*object) : std::nullopt;
}

std::optional<Bytes> archivedColorComponents(const Color& color) {
  std::vector<std::pair<ArchiveObject, ArchiveObject>> entries;
  PropertyList components = color.propertyListRepresentation();
  for (const auto& [name, value] : *components.dictionary()) entries.emplace_back(name, value.numberValue().value_or(0));
  return KeyedArchiver::archivedData(ArchiveObject::dictionary(std::move(entries)));
}

std::optional<Color> colorFromArchivedComponents(const Bytes& data) {
  static const ClassNameSet classes = {"NSDictionary", "NSNumber", "NSString"};
  std::unique_ptr<KeyedUnarchiver> unarchiver = KeyedUnarchiver::forReading(data);
  std::optional<ArchiveObject> object = unarchiver ? unarchiver->decodeObjectOfClasses("root", classes) : std::nullopt;
  if (!object || !object->dictionary()) return std::nullopt;
  PropertyListDictionary components;
  for (const auto& [name, value] : object->dictionary()->entries)
    if (name.string() && (value.real() || value.integer()))
      components[*name.string()] = value.real() ? *value.real() : static_cast<double>(*value.integer());
  return Color::fromPropertyListRepresentation(components);
}

std::optional<Bytes> archivedColor(const Color& color) {
  registerTextClasses();
  return KeyedArchiver::archivedData(ArchiveObject(codableForColor(color)));
}

}  // namespace

const std::vector<std::string>& CloudDefaults::observedDefaultsKeys() {
  static const std::vector<std::string> keys = [] {
    std::vector<std::string> list;
    for (const auto& [key, attribute] : mapping()) list.push_back(key);
    return list;
  }();
  return keys;
}

const std::map<std::string, std::string>& CloudDefaults::defaultsKeyMapping() {
  static const std::map<std::string, std::string> map(mapping().begin(), mapping().end());
  return map;
}

std::optional<std::string> CloudDefaults::savedKeyForDefaultsKey(const std::string& key) {
  auto found = defaultsKeyMapping().find(key);
  if (found == defaultsKeyMapping().end()) return std::nullopt;
  return found->second;
}

bool CloudDefaults::isColorDefaultsKey(const std::string& key) {
  static const std::set<std::string> colors = {"QLTNoteDefaultBackgroundColor", "QLTNoteLinkTextColor",
                                               "QLTTextViewHighlightColor", "QLTPDFDefaultHighlightColor"};
  return colors.contains(key);
}

bool CloudDefaults::allowsZeroValueForDefaultsKey(const std::string& key) {
  static const std::set<std::string> nonZero = {"QLTRichTextFontSize", "QLTPlainTextFontSize", "QLTMarkdownFontSize",
                                                "QLTWebLinkMinWidth", "QLTWebLinkMinHeight"};
  return !nonZero.contains(key);
}

std::shared_ptr<CloudDefaults> CloudDefaults::cloudDefaults(ManagedObjectContext& context) {
  ManagedObjectPtr library = LibraryObject::libraryObject(context, kLibraryEntityName, kLibraryEntityName);
  if (!library) return nullptr;
  if (auto existing = std::dynamic_pointer_cast<CloudDefaults>(library->objectForKey("cloudDefaults"))) return existing;
  auto created = std::dynamic_pointer_cast<CloudDefaults>(context.insertNewObject(kCloudDefaultsEntityName));
  if (created) library->setObjectForKey("cloudDefaults", created);
  return created;
}

CloudDefaults::~CloudDefaults() { stopObservingDefaults(); }

void CloudDefaults::startObservingDefaults() {
  {
    std::lock_guard lock(mutex_);
    if (observing_) return;
    observing_ = true;
  }
  std::weak_ptr<ManagedObject> weak = weak_from_this();
  std::vector<ObserverToken> tokens;
  for (const std::string& key : observedDefaultsKeys()) {
    updateSavedValueForDefaultsKey(key);
    tokens.push_back(UserDefaults::standard().addObserver(key, [weak, key](const std::optional<PropertyList>&) {
      auto self = std::dynamic_pointer_cast<CloudDefaults>(weak.lock());
      ManagedObjectContext* context = self ? self->managedObjectContext() : nullptr;
      if (!context || !self->isObservingDefaults()) return;
      context->perform([self, key] {
        if (self->isObservingDefaults()) self->updateSavedValueForDefaultsKey(key);
      });
    }));
  }
  std::lock_guard lock(mutex_);
  observations_ = std::move(tokens);
}

void CloudDefaults::stopObservingDefaults() {
  std::vector<ObserverToken> tokens;
  {
    std::lock_guard lock(mutex_);
    tokens = std::move(observations_);
    observations_.clear();
    observing_ = false;
  }
  for (ObserverToken token : tokens) UserDefaults::standard().removeObserver(token);
}

bool CloudDefaults::isObservingDefaults() const {
  std::lock_guard lock(mutex_);
  return observing_;
}

void CloudDefaults::prepareForDeletion() {
  stopObservingDefaults();
  LibraryObject::prepareForDeletion();
}

void CloudDefaults::setIfChanged(const std::string& attribute, const Value& value) {
  if (!valueForKey(attribute).isIdenticalTo(value)) setValueForKey(attribute, value);
}

void CloudDefaults::updateSavedValueForDefaultsKey(const std::string& key) {
  std::optional<std::string> attribute = savedKeyForDefaultsKey(key);
  if (!attribute) return;
  if (isColorDefaultsKey(key)) {
    std::optional<Color> color = colorFromDefaults(key);
    std::optional<Bytes> data = color ? archivedColorComponents(*color) : std::nullopt;
    setIfChanged(*attribute, data ? Value(*data) : Value());
    return;
  }
  std::optional<PropertyList> stored = UserDefaults::standard().objectForKey(key);
  if (!stored) {
    setIfChanged(*attribute, Value());
    return;
  }
  std::optional<Value> value = valueFromPropertyList(*stored);
  const AttributeDescription* description = entity().attribute(*attribute);
  std::optional<Value> coerced = value && description ? description->coerce(*value) : std::nullopt;
  if (coerced) setIfChanged(*attribute, *coerced);
}

void CloudDefaults::updateDefaultsForKeyIfNecessary(const std::string& key) {
  if (!savedKeyForDefaultsKey(key)) return;
  if (isColorDefaultsKey(key))
    updateColorDefaultsForKey(key);
  else
    updateDefaultsForKey(key);
}

void CloudDefaults::updateDefaultsForKey(const std::string& key) {
  UserDefaults& defaults = UserDefaults::standard();
  std::optional<PropertyList> saved = propertyListFromValue(valueForKey(*savedKeyForDefaultsKey(key)));
  if (saved && !allowsZeroValueForDefaultsKey(key) && numberOf(*saved) == 0.0) saved.reset();
  std::optional<PropertyList> current = defaults.objectForKey(key);
  if (saved && current && sameSetting(*saved, *current)) return;
  if (!saved && !current) return;
  Error error;
  bool written = saved ? defaults.setObject(*saved, key, &error) : defaults.removeObjectForKey(key, &error);
  if (!written) log("Cannot write the user default %@: %@", key, error);
  if (key == kNoteTextStylesKey) NoteTextStyle::reloadStylesFromDefaults();
}

void CloudDefaults::updateColorDefaultsForKey(const std::string& key) {
  UserDefaults& defaults = UserDefaults::standard();
  Value stored = valueForKey(*savedKeyForDefaultsKey(key));
  const Bytes* data = stored.data();
  std::optional<Color> color = data ? colorFromArchivedComponents(*data) : std::nullopt;
  std::optional<Bytes> saved = color ? archivedColor(*color) : std::nullopt;
  std::optional<Bytes> current = defaults.dataForKey(key);
  if (saved == current) return;
  Error error;
  bool written = true;
  if (saved)
    written = defaults.setObject(*saved, key, &error);
  else if (current)
    written = defaults.removeObjectForKey(key, &error);
  if (!written) log("Cannot write the user default %@: %@", key, error);
}

void CloudDefaults::updateFromCloudRecord(const CloudRecord& record) {
  LibraryObject::updateFromCloudRecord(record);
  for (const std::string& key : observedDefaultsKeys()) updateDefaultsForKeyIfNecessary(key);
}

void registerCloudClasses() {
  ManagedObjectClasses::add<CloudDefaults>(libraryModel()->name(), kCloudDefaultsEntityName);
}

}  // namespace qlt
