#pragma once

#include <string>

namespace qlt {

// A font as a descriptor: a PostScript-style name ("HelveticaNeue-Bold")
// and a point size. Nothing is rendered, so every name is accepted; the
// family and the bold and italic traits are read from the name.
class Font {
 public:
  Font() = default;
  Font(std::string name, double pointSize);
  // The font of `family` ("Helvetica Neue") with the given traits.
  static Font withFamily(const std::string& family, double pointSize, bool bold = false, bool italic = false);
  // The standard user font when nothing else is chosen.
  static Font userFont(double pointSize);

  const std::string& name() const { return name_; }
  double pointSize() const { return pointSize_; }
  // "Helvetica Neue" for "HelveticaNeue-Bold".
  std::string familyName() const;
  bool isBold() const;
  bool isItalic() const;
  bool isFixedPitch() const;

  Font withSize(double pointSize) const { return Font(name_, pointSize); }
  Font withTraits(bool bold, bool italic) const;

  bool operator==(const Font&) const = default;

 private:
  std::string name_ = "Helvetica";
  double pointSize_ = 12;
};

}  // namespace qlt
