#include "platform/text/paragraph_style.h"

#include <cmath>
#include <limits>

namespace qlt {

std::vector<TextTab> ParagraphStyle::defaultTabStops() {
  std::vector<TextTab> stops;
  for (int i = 1; i <= 12; ++i) stops.push_back({TextAlignment::Left, 28.0 * i});
  return stops;
}

const ParagraphStyle& ParagraphStyle::defaultStyle() {
  static const ParagraphStyle style;
  return style;
}

bool ParagraphStyle::hasSameLineSpacing(const ParagraphStyle& other) const {
  auto same = [](double a, double b) { return std::fabs(a - b) <= std::numeric_limits<double>::epsilon(); };
  return same(lineHeightMultiple, other.lineHeightMultiple) && same(lineSpacing, other.lineSpacing) &&
         same(paragraphSpacing, other.paragraphSpacing) &&
         same(paragraphSpacingBefore, other.paragraphSpacingBefore) &&
         same(minimumLineHeight, other.minimumLineHeight) && same(maximumLineHeight, other.maximumLineHeight);
}

void ParagraphStyle::copyLineSpacing(const ParagraphStyle& from) {
  lineHeightMultiple = from.lineHeightMultiple;
  lineSpacing = from.lineSpacing;
  paragraphSpacing = from.paragraphSpacing;
  paragraphSpacingBefore = from.paragraphSpacingBefore;
  minimumLineHeight = from.minimumLineHeight;
  maximumLineHeight = from.maximumLineHeight;
}

}  // namespace qlt
