#pragma once

#include <string>
#include <vector>

namespace qlt {

enum class TextAlignment { Left = 0, Right = 1, Center = 2, Justified = 3, Natural = 4 };
enum class WritingDirection { Natural = -1, LeftToRight = 0, RightToLeft = 1 };

struct TextTab {
  TextAlignment alignment = TextAlignment::Natural;
  double location = 0;
  bool operator==(const TextTab&) const = default;
};

// A list a paragraph belongs to. Marker formats are the platform's:
// "{disc}", "{hyphen}", "{decimal}", "{check}", "{circle}", ...
struct TextList {
  std::string markerFormat;
  long startingItemNumber = 1;
  bool operator==(const TextList&) const = default;
};

// Paragraph formatting; lengths in points.
struct ParagraphStyle {
  TextAlignment alignment = TextAlignment::Natural;
  double firstLineHeadIndent = 0;
  double headIndent = 0;
  double tailIndent = 0;
  double lineHeightMultiple = 0;
  double lineSpacing = 0;
  double paragraphSpacing = 0;
  double paragraphSpacingBefore = 0;
  double minimumLineHeight = 0;
  double maximumLineHeight = 0;
  WritingDirection baseWritingDirection = WritingDirection::Natural;
  long headerLevel = 0;
  double defaultTabInterval = 0;
  std::vector<TextTab> tabStops = defaultTabStops();
  std::vector<TextList> textLists;

  // Twelve left tabs, 28 points apart, as the platform's default style has.
  static std::vector<TextTab> defaultTabStops();
  static const ParagraphStyle& defaultStyle();

  // The six values that set the space between lines and paragraphs.
  bool hasSameLineSpacing(const ParagraphStyle& other) const;
  void copyLineSpacing(const ParagraphStyle& from);

  bool operator==(const ParagraphStyle&) const = default;
};

}  // namespace qlt
