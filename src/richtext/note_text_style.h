#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/codable.h"
#include "platform/text/attributed_string.h"

namespace qlt {

class UserDefaults;

inline constexpr const char* kNoteTextStyleIdentifierKey = "QLTNoteTextStyleIdentifier";
inline constexpr const char* kNoteTextStylesDefaultsKey = "QLTNoteTextStyles";
inline constexpr const char* kNoteTextStyleDefaultIdentifierDefaultsKey = "QLTNoteTextStyleDefaultIdentifier";
inline constexpr const char* kNoteTextStyleDefaultsDidChangeNotification =
    "QLTNoteTextStyleDefaultsDidChangeNotification";

// A named bundle of text attributes: one of the five standard styles or a
// custom one. The styles the user changed live in the standard user
// defaults under kNoteTextStylesDefaultsKey as a secure keyed archive.
class NoteTextStyle final : public Codable {
 public:
  static constexpr const char* kClassName = "QLTNoteTextStyle";
  enum Type : int64_t { Body = 0, Title = 1, Heading = 2, Monospaced = 3, Subheading = 4, Custom = 9999 };

  NoteTextStyle() = default;

  int64_t type() const { return type_; }
  // Becoming a custom style gives the style a fresh custom identifier when
  // it has none.
  void setType(int64_t type);
  std::string name() const;
  void setName(std::string name) { name_ = std::move(name); }
  std::string identifier() const;
  const std::string& customStyleIdentifier() const { return customStyleIdentifier_; }

  Font font() const { return font_.value_or(Font::userFont(12)); }
  void setFont(Font font) { font_ = std::move(font); }
  std::string fontName() const { return font().name(); }
  double fontSize() const { return font().pointSize(); }
  void setFontSize(double size) { font_ = font().withSize(size); }
  const ParagraphStyle& paragraphStyle() const { return paragraphStyle_; }
  void setParagraphStyle(ParagraphStyle style) { paragraphStyle_ = std::move(style); }
  // The standard text colour unless another was set.
  Color foregroundColor() const { return foregroundColor_.value_or(Color::textColor()); }
  // Pure black and pure white store nothing: the standard colour is used.
  void setForegroundColor(const Color& color);
  int64_t underlineStyle() const { return underlineStyle_; }
  void setUnderlineStyle(int64_t style) { underlineStyle_ = style; }
  int64_t strikethrough() const { return strikethrough_; }
  void setStrikethrough(int64_t style) { strikethrough_ = style; }
  bool resetOnNewLine() const { return resetOnNewLine_; }
  void setResetOnNewLine(bool value) { resetOnNewLine_ = value; }
  bool applyToParagraph() const { return applyToParagraph_; }
  void setApplyToParagraph(bool value) { applyToParagraph_ = value; }
  std::vector<std::string> otherAllowedAttributeNames() const;

  TextAttributes attributes() const;
  TextAttributes attributesWithOtherAttributes(const TextAttributes& run) const;
  bool matchesAttributes(const TextAttributes& run) const;
  bool matchesAttributes(const TextAttributes& run, const std::vector<std::string>& ignoring) const;
  bool matchesStyle(const NoteTextStyle& other) const;
  // Custom styles always; standard ones when they differ from their default.
  bool shouldSaveToDefaults() const;

  static std::optional<NoteTextStyle> defaultStyleForType(int64_t type);
  static NoteTextStyle titleNoteTextStyle();
  static NoteTextStyle headingNoteTextStyle();
  static NoteTextStyle subheadingNoteTextStyle();
  static NoteTextStyle bodyNoteTextStyle();
  static NoteTextStyle monospacedNoteTextStyle();
  // Title, heading, subheading, body, monospaced.
  static std::vector<NoteTextStyle> standardStyles();
  static std::vector<NoteTextStyle> customStyles();
  static std::vector<NoteTextStyle> allStyles();
  static NoteTextStyle defaultStyle();
  static std::optional<NoteTextStyle> styleWithIdentifier(const std::string& identifier);
  static std::optional<NoteTextStyle> styleThatMatchesAttributes(const TextAttributes& run);
  static NoteTextStyle customStyleFromAttributes(const TextAttributes& run);
  [[nodiscard]] static bool saveStylesToDefaults(const std::vector<NoteTextStyle>& styles, Error* error = nullptr);
  [[nodiscard]] static bool addCustomStyle(const NoteTextStyle& style, Error* error = nullptr);
  static void reloadStylesFromDefaults();

  // Text-size setting 1…4 to the factor note text is scaled by.
  static double scaleFactorForNoteTextSize(int64_t size);

  std::string className() const override { return kClassName; }
  void encode(KeyedArchiver& archiver) const override;
  static std::shared_ptr<Codable> decode(KeyedUnarchiver& unarchiver, Error* error);

 private:
  int64_t type_ = Body;
  std::string name_;
  std::string customStyleIdentifier_;
  std::optional<Font> font_;
  ParagraphStyle paragraphStyle_;
  std::optional<Color> foregroundColor_;
  int64_t underlineStyle_ = 0;
  int64_t strikethrough_ = 0;
  bool resetOnNewLine_ = false;
  bool applyToParagraph_ = false;
};

}  // namespace qlt
