#include <algorithm>
#include <mutex>

#include "platform/defaults/user_defaults.h"
#include "platform/dispatch/notification_center.h"
#include "platform/foundation/keyed_archiver.h"
#include "platform/foundation/keyed_unarchiver.h"
#include "platform/foundation/localized_strings.h"
#include "platform/foundation/log.h"
#include "platform/foundation/string_comparison.h"
#include "richtext/note_text_style.h"
#include "richtext/rich_text_classes.h"

namespace qlt {

namespace {

// The styles read from the defaults, kept until the next reload.
struct StyleCache {
  std::mutex mutex;
  std::optional<std::vector<NoteTextStyle>> saved;
};

StyleCache& cache() {
  static auto& styles = *new StyleCache;
  return styles;
}

std::vector<NoteTextStyle> readSavedStyles() {
  registerRichTextClasses();
  auto data = UserDefaults::standard().dataForKey(kNoteTextStylesDefaultsKey);
  if (!data) return {};
  Error error;
  auto root = KeyedUnarchiver::unarchivedObject(*data, {"NSArray", NoteTextStyle::kClassName}, &error);
  if (root && !root->array())
    error = Error(kCocoaErrorDomain, kCocoaCoderReadCorruptError, "The saved note styles are not an array.");
  if (!root || !root->array()) {
    log("Error unarchiving saved note styles: %@", error.description());
    return {};
  }
  std::vector<NoteTextStyle> styles;
  for (const ArchiveObject& element : root->array()->elements)
    if (auto style = element.objectAs<NoteTextStyle>()) styles.push_back(*style);
  return styles;
}

std::vector<NoteTextStyle> savedStyles() {
  StyleCache& styles = cache();
  std::lock_guard lock(styles.mutex);
  if (!styles.saved) styles.saved = readSavedStyles();
  return *styles.saved;
}

NoteTextStyle styleOfType(int64_t type) {
  for (const NoteTextStyle& style : savedStyles())
    if (style.type() == type) return style;
  return *NoteTextStyle::defaultStyleForType(type);
}

}  // namespace

NoteTextStyle NoteTextStyle::titleNoteTextStyle() { return styleOfType(Title); }
NoteTextStyle NoteTextStyle::headingNoteTextStyle() { return styleOfType(Heading); }
NoteTextStyle NoteTextStyle::subheadingNoteTextStyle() { return styleOfType(Subheading); }
NoteTextStyle NoteTextStyle::bodyNoteTextStyle() { return styleOfType(Body); }
NoteTextStyle NoteTextStyle::monospacedNoteTextStyle() { return styleOfType(Monospaced); }

std::vector<NoteTextStyle> NoteTextStyle::standardStyles() {
  return {titleNoteTextStyle(), headingNoteTextStyle(), subheadingNoteTextStyle(), bodyNoteTextStyle(),
          monospacedNoteTextStyle()};
}

std::vector<NoteTextStyle> NoteTextStyle::customStyles() {
  std::vector<NoteTextStyle> custom;
  for (const NoteTextStyle& style : savedStyles())
    if (style.type() == Custom) custom.push_back(style);
  std::stable_sort(custom.begin(), custom.end(), [](const NoteTextStyle& a, const NoteTextStyle& b) {
    return localizedStandardCompare(a.name(), b.name()) < 0;
  });
  return custom;
}

std::vector<NoteTextStyle> NoteTextStyle::allStyles() {
  std::vector<NoteTextStyle> all = standardStyles();
  for (NoteTextStyle& style : customStyles()) all.push_back(std::move(style));
  return all;
}

NoteTextStyle NoteTextStyle::defaultStyle() {
  if (auto identifier = UserDefaults::standard().stringForKey(kNoteTextStyleDefaultIdentifierDefaultsKey))
    if (auto style = styleWithIdentifier(*identifier)) return *style;
  return bodyNoteTextStyle();
}

std::optional<NoteTextStyle> NoteTextStyle::styleWithIdentifier(const std::string& identifier) {
  for (NoteTextStyle& style : allStyles())
    if (style.identifier() == identifier) return std::move(style);
  return std::nullopt;
}

std::optional<NoteTextStyle> NoteTextStyle::styleThatMatchesAttributes(const TextAttributes& run) {
  for (NoteTextStyle& style : allStyles())
    if (style.matchesAttributes(run)) return std::move(style);
  return std::nullopt;
}

NoteTextStyle NoteTextStyle::customStyleFromAttributes(const TextAttributes& run) {
  NoteTextStyle style;
  style.setName(localizedString("New Style"));
  style.setType(Custom);
  if (auto font = attributeAs<Font>(run, kFontAttributeName)) style.setFont(*font);
  if (auto paragraph = attributeAs<ParagraphStyle>(run, kParagraphStyleAttributeName))
    style.setParagraphStyle(*paragraph);
  if (auto color = attributeAs<Color>(run, kForegroundColorAttributeName)) style.setForegroundColor(*color);
  if (auto underline = attributeAs<int64_t>(run, kUnderlineStyleAttributeName)) style.setUnderlineStyle(*underline);
  if (auto strike = attributeAs<int64_t>(run, kStrikethroughStyleAttributeName)) style.setStrikethrough(*strike);
  return style;
}

bool NoteTextStyle::saveStylesToDefaults(const std::vector<NoteTextStyle>& styles, Error* error) {
  registerRichTextClasses();
  std::vector<ArchiveObject> kept;
  for (const NoteTextStyle& style : styles)
    if (style.shouldSaveToDefaults()) kept.emplace_back(std::shared_ptr<Codable>(std::make_shared<NoteTextStyle>(style)));
  bool saved;
  if (kept.empty()) {
    saved = UserDefaults::standard().removeObjectForKey(kNoteTextStylesDefaultsKey, error);
  } else {
    auto data = KeyedArchiver::archivedData(ArchiveObject::array(std::move(kept)), true, error);
    saved = data && UserDefaults::standard().setObject(*data, kNoteTextStylesDefaultsKey, error);
  }
  reloadStylesFromDefaults();
  NotificationCenter::defaultCenter().post(kNoteTextStyleDefaultsDidChangeNotification);
  return saved;
}

bool NoteTextStyle::addCustomStyle(const NoteTextStyle& style, Error* error) {
  std::vector<NoteTextStyle> styles = allStyles();
  styles.push_back(style);
  return saveStylesToDefaults(styles, error);
}

void NoteTextStyle::reloadStylesFromDefaults() {
  {
    std::lock_guard lock(cache().mutex);
    cache().saved.reset();
  }
  NotificationCenter::defaultCenter().post(kNoteTextStyleDefaultsDidChangeNotification);
}

}  // namespace qlt
