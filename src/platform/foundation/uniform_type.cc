#include "platform/foundation/uniform_type.h"

#include <cstdlib>
#include <map>
#include <memory>

#include "platform/foundation/localized_strings.h"

namespace qlt {

namespace {

struct Declaration {
  std::string identifier;
  std::vector<std::string> supertypes;
  std::vector<std::string> extensions;
  std::string mimeType;
};

std::string product(const char* suffix) { return std::string(kProductIdentifierPrefix) + "." + suffix; }

// Where two types claim the same extension or MIME type, the one declared
// first wins.
std::vector<Declaration> declarations() {
  return {
      {"public.item", {}, {}, {}},
      {"public.content", {}, {}, {}},
      {"public.composite-content", {"public.content"}, {}, {}},
      {"public.data", {"public.item"}, {}, "application/octet-stream"},
      {"public.directory", {"public.item"}, {}, {}},
      {"public.folder", {"public.directory"}, {}, {}},
      {"com.apple.package", {"public.directory"}, {}, {}},
      {"public.symlink", {"public.item"}, {}, {}},
      {"com.apple.alias-file", {"public.data"}, {}, {}},

      {"public.text", {"public.data", "public.content"}, {}, {}},
      {"public.plain-text", {"public.text"}, {"txt", "text"}, "text/plain"},
      {"public.utf8-plain-text", {"public.plain-text"}, {}, {}},
      {"public.rtf", {"public.text"}, {"rtf"}, "text/rtf"},
      {"com.apple.rtfd", {"com.apple.package", "public.composite-content"}, {"rtfd"}, {}},
      {"com.apple.flat-rtfd", {"public.data", "public.composite-content"}, {}, {}},
      {"public.html", {"public.text"}, {"html", "htm"}, "text/html"},
      {"public.xml", {"public.text"}, {"xml"}, "application/xml"},
      {"public.json", {"public.text"}, {"json"}, "application/json"},
      {"public.source-code", {"public.plain-text"}, {}, {}},
      {"net.daringfireball.markdown", {"public.plain-text"}, {"md", "markdown"}, "text/markdown"},
      {"com.apple.property-list", {"public.data"}, {"plist"}, "application/x-plist"},

      {"public.url", {"public.data"}, {}, {}},
      {"com.apple.internet-location", {"public.data"}, {}, {}},
      {"com.apple.web-internet-location", {"com.apple.internet-location"}, {"webloc"}, {}},

      {"com.adobe.pdf", {"public.data", "public.composite-content"}, {"pdf"}, "application/pdf"},

      {"public.image", {"public.data", "public.content"}, {}, {}},
      {"public.jpeg", {"public.image"}, {"jpeg", "jpg", "jpe"}, "image/jpeg"},
      {"public.png", {"public.image"}, {"png"}, "image/png"},
      {"public.tiff", {"public.image"}, {"tiff", "tif"}, "image/tiff"},
      {"com.compuserve.gif", {"public.image"}, {"gif"}, "image/gif"},
      {"public.heic", {"public.image"}, {"heic"}, "image/heic"},
      {"com.microsoft.bmp", {"public.image"}, {"bmp"}, "image/bmp"},
      {"public.svg-image", {"public.image"}, {"svg"}, "image/svg+xml"},

      {"public.audiovisual-content", {"public.data", "public.content"}, {}, {}},
      {"public.movie", {"public.audiovisual-content"}, {}, {}},
      {"public.video", {"public.movie"}, {}, {}},
      {"public.mpeg-4", {"public.movie"}, {"mp4", "mpeg4"}, "video/mp4"},
      {"com.apple.quicktime-movie", {"public.movie"}, {"mov", "qt"}, "video/quicktime"},
      {"public.audio", {"public.audiovisual-content"}, {}, {}},
      {"public.mp3", {"public.audio"}, {"mp3"}, "audio/mpeg"},
      {"public.mpeg-4-audio", {"public.mpeg-4", "public.audio"}, {"m4a"}, "audio/mp4"},
      {"com.microsoft.waveform-audio", {"public.audio"}, {"wav", "wave"}, "audio/wav"},

      {"public.archive", {"public.data"}, {}, {}},
      {"public.zip-archive", {"public.archive"}, {"zip"}, "application/zip"},
      {"com.apple.mail.email", {"public.data"}, {"eml"}, "message/rfc822"},

      {product("note"), {"com.apple.package", "public.composite-content"}, {"qltnote"}, {}},
      {product("archive"), {"public.data"}, {"qltarchive"}, {}},
      {product("info"), {"com.apple.property-list"}, {"qltinfo"}, {}},
  };
}

// What the file manager calls files of each type; a type without an entry
// takes its nearest supertype's.
const std::map<std::string, std::string, std::less<>>& descriptions() {
  static const std::map<std::string, std::string, std::less<>> table = {
      {"public.data", "Document"},
      {"public.folder", "Folder"},
      {"com.apple.package", "Package"},
      {"public.symlink", "Alias"},
      {"com.apple.alias-file", "Alias"},
      {"public.text", "Text Document"},
      {"public.plain-text", "Plain Text Document"},
      {"public.rtf", "Rich Text Document"},
      {"com.apple.rtfd", "Rich Text Document with Attachments"},
      {"public.html", "HTML Document"},
      {"public.xml", "XML Document"},
      {"public.json", "JSON Document"},
      {"net.daringfireball.markdown", "Markdown Document"},
      {"com.apple.property-list", "Property List"},
      {"com.apple.internet-location", "Internet Location"},
      {"com.apple.web-internet-location", "Web Internet Location"},
      {"com.adobe.pdf", "PDF Document"},
      {"public.image", "Image"},
      {"public.jpeg", "JPEG Image"},
      {"public.png", "PNG Image"},
      {"public.tiff", "TIFF Image"},
      {"com.compuserve.gif", "GIF Image"},
      {"public.heic", "HEIC Image"},
      {"com.microsoft.bmp", "Windows Bitmap Image"},
      {"public.svg-image", "SVG Image"},
      {"public.movie", "Movie"},
      {"public.mpeg-4", "MPEG-4 Movie"},
      {"com.apple.quicktime-movie", "QuickTime Movie"},
      {"public.audio", "Audio"},
      {"public.mp3", "MP3 Audio"},
      {"public.mpeg-4-audio", "MPEG-4 Audio"},
      {"com.microsoft.waveform-audio", "Waveform Audio"},
      {"public.archive", "Archive"},
      {"public.zip-archive", "ZIP Archive"},
      {"com.apple.mail.email", "Email Message"},
  };
  return table;
}

std::string lowercased(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return result;
}

}  // namespace

class UniformTypeRegistry {
 public:
  static const UniformTypeRegistry& shared() {
    static const UniformTypeRegistry registry;
    return registry;
  }

  const UniformType* find(const std::map<std::string, const UniformType*, std::less<>>& index,
                          std::string_view key) const {
    auto found = index.find(key);
    return found == index.end() ? nullptr : found->second;
  }

  std::vector<std::unique_ptr<UniformType>> types;
  std::map<std::string, const UniformType*, std::less<>> byIdentifier;
  std::map<std::string, const UniformType*, std::less<>> byExtension;
  std::map<std::string, const UniformType*, std::less<>> byMIMEType;

 private:
  UniformTypeRegistry() {
    std::vector<Declaration> all = declarations();
    for (Declaration& declaration : all) {
      UniformType& type = *types.emplace_back(
          new UniformType(declaration.identifier, declaration.extensions, declaration.mimeType));
      byIdentifier.emplace(type.identifier_, &type);
      for (const std::string& extension : type.extensions_) byExtension.emplace(extension, &type);
      if (!type.mimeType_.empty()) byMIMEType.emplace(type.mimeType_, &type);
    }
    for (size_t i = 0; i < all.size(); ++i)
      for (const std::string& supertype : all[i].supertypes) {
        const UniformType* parent = find(byIdentifier, supertype);
        if (!parent) std::abort();  // a typo in the declarations above
        types[i]->supertypes_.push_back(parent);
      }
  }
};

UniformType::UniformType(std::string identifier, std::vector<std::string> extensions, std::string mimeType)
    : identifier_(std::move(identifier)), extensions_(std::move(extensions)), mimeType_(std::move(mimeType)) {}

const UniformType* UniformType::withIdentifier(std::string_view identifier) {
  const UniformTypeRegistry& registry = UniformTypeRegistry::shared();
  return registry.find(registry.byIdentifier, identifier);
}

const UniformType* UniformType::withFilenameExtension(std::string_view extension) {
  const UniformTypeRegistry& registry = UniformTypeRegistry::shared();
  return registry.find(registry.byExtension, lowercased(extension));
}

const UniformType* UniformType::withMIMEType(std::string_view mimeType) {
  mimeType = mimeType.substr(0, mimeType.find(';'));
  while (!mimeType.empty() && mimeType.back() == ' ') mimeType.remove_suffix(1);
  const UniformTypeRegistry& registry = UniformTypeRegistry::shared();
  return registry.find(registry.byMIMEType, lowercased(mimeType));
}

std::string UniformType::preferredFilenameExtension() const {
  return extensions_.empty() ? std::string() : extensions_.front();
}

std::string UniformType::localizedDescription() const {
  const auto& table = descriptions();
  if (auto found = table.find(identifier_); found != table.end()) return localizedString(found->second);
  for (const UniformType* supertype : supertypes_) {
    std::string inherited = supertype->localizedDescription();
    if (!inherited.empty()) return inherited;
  }
  return {};
}

bool UniformType::conformsTo(const UniformType& other) const {
  if (this == &other) return true;
  for (const UniformType* supertype : supertypes_)
    if (supertype->conformsTo(other)) return true;
  return false;
}

namespace {

const UniformType& registered(std::string_view identifier) {
  const UniformType* type = UniformType::withIdentifier(identifier);
  if (!type) std::abort();
  return *type;
}

}  // namespace

#define QLT_UNIFORM_TYPE(name, identifier)                     \
  const UniformType& UniformType::name() {                     \
    static const UniformType& type = registered(identifier);   \
    return type;                                               \
  }

QLT_UNIFORM_TYPE(item, "public.item")
QLT_UNIFORM_TYPE(content, "public.content")
QLT_UNIFORM_TYPE(compositeContent, "public.composite-content")
QLT_UNIFORM_TYPE(data, "public.data")
QLT_UNIFORM_TYPE(directory, "public.directory")
QLT_UNIFORM_TYPE(folder, "public.folder")
QLT_UNIFORM_TYPE(package, "com.apple.package")
QLT_UNIFORM_TYPE(symbolicLink, "public.symlink")
QLT_UNIFORM_TYPE(aliasFile, "com.apple.alias-file")
QLT_UNIFORM_TYPE(text, "public.text")
QLT_UNIFORM_TYPE(plainText, "public.plain-text")
QLT_UNIFORM_TYPE(utf8PlainText, "public.utf8-plain-text")
QLT_UNIFORM_TYPE(rtf, "public.rtf")
QLT_UNIFORM_TYPE(rtfd, "com.apple.rtfd")
QLT_UNIFORM_TYPE(flatRTFD, "com.apple.flat-rtfd")
QLT_UNIFORM_TYPE(html, "public.html")
QLT_UNIFORM_TYPE(xml, "public.xml")
QLT_UNIFORM_TYPE(json, "public.json")
QLT_UNIFORM_TYPE(markdown, "net.daringfireball.markdown")
QLT_UNIFORM_TYPE(sourceCode, "public.source-code")
QLT_UNIFORM_TYPE(propertyList, "com.apple.property-list")
QLT_UNIFORM_TYPE(url, "public.url")
QLT_UNIFORM_TYPE(internetLocation, "com.apple.internet-location")
QLT_UNIFORM_TYPE(webInternetLocation, "com.apple.web-internet-location")
QLT_UNIFORM_TYPE(pdf, "com.adobe.pdf")
QLT_UNIFORM_TYPE(image, "public.image")
QLT_UNIFORM_TYPE(jpeg, "public.jpeg")
QLT_UNIFORM_TYPE(png, "public.png")
QLT_UNIFORM_TYPE(tiff, "public.tiff")
QLT_UNIFORM_TYPE(gif, "com.compuserve.gif")
QLT_UNIFORM_TYPE(heic, "public.heic")
QLT_UNIFORM_TYPE(bmp, "com.microsoft.bmp")
QLT_UNIFORM_TYPE(svg, "public.svg-image")
QLT_UNIFORM_TYPE(audiovisualContent, "public.audiovisual-content")
QLT_UNIFORM_TYPE(movie, "public.movie")
QLT_UNIFORM_TYPE(video, "public.video")
QLT_UNIFORM_TYPE(mpeg4Movie, "public.mpeg-4")
QLT_UNIFORM_TYPE(quickTimeMovie, "com.apple.quicktime-movie")
QLT_UNIFORM_TYPE(audio, "public.audio")
QLT_UNIFORM_TYPE(mp3, "public.mp3")
QLT_UNIFORM_TYPE(mpeg4Audio, "public.mpeg-4-audio")
QLT_UNIFORM_TYPE(waveformAudio, "com.microsoft.waveform-audio")
QLT_UNIFORM_TYPE(archive, "public.archive")
QLT_UNIFORM_TYPE(emailMessage, "com.apple.mail.email")
QLT_UNIFORM_TYPE(zipArchive, "public.zip-archive")
QLT_UNIFORM_TYPE(note, product("note"))
QLT_UNIFORM_TYPE(quilletArchive, product("archive"))
QLT_UNIFORM_TYPE(quilletInfo, product("info"))

#undef QLT_UNIFORM_TYPE

}  // namespace qlt
