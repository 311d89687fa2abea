#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qlt {

// The reverse-DNS prefix of the identifiers the application declares.
inline constexpr std::string_view kProductIdentifierPrefix = "com.quillet";

// A uniform type identifier from a fixed registry of the system types the
// library deals with plus the application's own. Types live for the whole
// process; compare them by address or with conformsTo.
class UniformType {
 public:
  UniformType(const UniformType&) = delete;
  UniformType& operator=(const UniformType&) = delete;

  // Lookups return nullptr for types that are not registered.
  static const UniformType* withIdentifier(std::string_view identifier);
  // `extension` without the dot, in any letter case.
  static const UniformType* withFilenameExtension(std::string_view extension);
  // Parameters after ';' are ignored.
  static const UniformType* withMIMEType(std::string_view mimeType);

  const std::string& identifier() const { return identifier_; }
  // Empty when the type has no extension.
  std::string preferredFilenameExtension() const;
  const std::vector<std::string>& filenameExtensions() const { return extensions_; }
  const std::string& preferredMIMEType() const { return mimeType_; }
  // What the file manager calls such files ("PDF Document"), localized;
  // empty for the abstract types above data.
  std::string localizedDescription() const;
  // The types this one directly conforms to.
  const std::vector<const UniformType*>& supertypes() const { return supertypes_; }

  // True when `other` is this type or one of its supertypes, transitively.
  bool conformsTo(const UniformType& other) const;

  static const UniformType& item();
  static const UniformType& content();
  static const UniformType& compositeContent();
  static const UniformType& data();
  static const UniformType& directory();
  static const UniformType& folder();
  static const UniformType& package();
  static const UniformType& symbolicLink();
  static const UniformType& aliasFile();
  static const UniformType& text();
  static const UniformType& plainText();
  static const UniformType& utf8PlainText();
  static const UniformType& rtf();
  static const UniformType& rtfd();
  static const UniformType& flatRTFD();
  static const UniformType& html();
  static const UniformType& xml();
  static const UniformType& json();
  static const UniformType& markdown();
  static const UniformType& sourceCode();
  static const UniformType& propertyList();
  static const UniformType& url();
  static const UniformType& internetLocation();
  static const UniformType& webInternetLocation();
  static const UniformType& pdf();
  static const UniformType& image();
  static const UniformType& jpeg();
  static const UniformType& png();
  static const UniformType& tiff();
  static const UniformType& gif();
  static const UniformType& heic();
  static const UniformType& bmp();
  static const UniformType& svg();
  static const UniformType& audiovisualContent();
  static const UniformType& movie();
  static const UniformType& video();
  static const UniformType& mpeg4Movie();
  static const UniformType& quickTimeMovie();
  static const UniformType& audio();
  static const UniformType& mp3();
  static const UniformType& mpeg4Audio();
  static const UniformType& waveformAudio();
  static const UniformType& archive();
  static const UniformType& zipArchive();
  static const UniformType& emailMessage();
  // The application's own: a note package, an exported library archive and
  // an item-information property list.
  static const UniformType& note();
  static const UniformType& quilletArchive();
  static const UniformType& quilletInfo();

 private:
  friend class UniformTypeRegistry;
  UniformType(std::string identifier, std::vector<std::string> extensions, std::string mimeType);

  std::string identifier_;
  std::vector<std::string> extensions_;
  std::string mimeType_;
  std::vector<const UniformType*> supertypes_;
};

}  // namespace qlt
