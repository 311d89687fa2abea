#include "platform/text/font.h"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace qlt {

namespace {

constexpr double kMinimumSize = 1.0;
constexpr double kMaximumSize = 1638.0;

// The family part of a PostScript-style name ("Family-Traits"), without the
// spaces a name read from outside may have before its dash.
std::string baseName(const std::string& name) {
  std::string base = name.substr(0, name.find('-'));
  size_t end = base.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : base.substr(0, end + 1);
}

std::string traitsSuffix(const std::string& name) {
  auto dash = name.find('-');
  return dash == std::string::npos ? std::string() : name.substr(dash + 1);
}

}  // namespace

Font::Font(std::string name, double pointSize)
    : name_(name.empty() ? "Helvetica" : std::move(name)),
      pointSize_(std::isfinite(pointSize) ? std::clamp(pointSize, kMinimumSize, kMaximumSize) : 12.0) {}

Font Font::withFamily(const std::string& family, double pointSize, bool bold, bool italic) {
  std::string base;
  for (char c : family)
    if (c != ' ' && c != '-') base += c;
  return Font(base, pointSize).withTraits(bold, italic);
}

Font Font::userFont(double pointSize) { return withFamily("Helvetica Neue", pointSize); }

std::string Font::familyName() const {
  std::string base = baseName(name_), family;
  for (size_t i = 0; i < base.size(); ++i) {
    bool wordStart = i > 0 && std::isupper(static_cast<unsigned char>(base[i])) &&
                     std::islower(static_cast<unsigned char>(base[i - 1]));
    if (wordStart) family += ' ';
    family += base[i];
  }
  return family;
}

bool Font::isBold() const {
  std::string suffix = traitsSuffix(name_);
  return suffix.find("Bold") != std::string::npos || suffix.find("Heavy") != std::string::npos ||
         suffix.find("Black") != std::string::npos;
}

bool Font::isItalic() const {
  std::string suffix = traitsSuffix(name_);
  return suffix.find("Italic") != std::string::npos || suffix.find("Oblique") != std::string::npos;
}

bool Font::isFixedPitch() const {
  static const char* const kFamilies[] = {"Menlo", "Monaco", "Courier", "CourierNew", "DejaVuSansMono", "SFMono"};
  std::string base = baseName(name_);
  return std::any_of(std::begin(kFamilies), std::end(kFamilies), [&](const char* f) { return base == f; });
}

Font Font::withTraits(bool bold, bool italic) const {
  std::string suffix = bold && italic ? "BoldItalic" : bold ? "Bold" : italic ? "Italic" : "";
  std::string base = baseName(name_);
  return Font(suffix.empty() ? base : base + "-" + suffix, pointSize_);
}

}  // namespace qlt
