#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "formats/note_file.h"
#include "platform/objectstore/predicate.h"
#include "platform/text/attributed_string.h"

namespace qlt {

inline constexpr const char* kEditableTextFileErrorDomain = "QLTEditableTextFileErrorDomain";
inline constexpr long kEditableTextFileUnsupportedTypeErrorCode = 10001;
inline constexpr long kEditableTextFileUndecodableErrorCode = 10002;

inline constexpr const char* kRichTextFontNameDefaultsKey = "QLTRichTextFontName";
inline constexpr const char* kRichTextFontSizeDefaultsKey = "QLTRichTextFontSize";
inline constexpr const char* kPublicMarkdownType = "public.markdown";

// Text encodings of plain-text files, numbered as the platform numbers them.
enum class StringEncoding : uint64_t {
  UTF8 = 4,
  WindowsCP1252 = 12,
  UTF16BigEndian = 0x90000100,
  UTF16LittleEndian = 0x94000100,
};

// A note, rich-text (RTF, RTFD) or plain-text file (Markdown included) opened
// for reading, appending and writing back in its own format.
class EditableTextFile {
 public:
  enum class Type { Note = 1, RichText = 2, PlainText = 3 };

  static const std::vector<std::string>& allEditableFileTypes();
  static const std::vector<std::string>& fileTypesThatSupportAttachments();
  static const std::vector<std::string>& fileTypesThatSupportAttachmentsWithoutCoercion();
  // Items whose file is of one of the editable types.
  static PredicatePtr predicateForEditableTextItems();
  static bool canOpenFileOfType(const std::string& typeIdentifier);
  static bool typeIsRichText(const std::string& typeIdentifier);
  static bool typeCanHandleAttachments(const std::string& typeIdentifier, bool* requiresCoercion);
  // The type identifier of the file at `path`, from its extension.
  static std::string fileTypeOfURL(const std::string& path);

  static std::unique_ptr<EditableTextFile> richTextFileWithString(const std::string& text);
  static std::unique_ptr<EditableTextFile> plainTextFileWithString(const std::string& text);
  [[nodiscard]] static std::unique_ptr<EditableTextFile> withURL(const std::string& path, Error* error = nullptr);

  // Rewrites the RTF file at `path` as an RTFD package beside it (named
  // after it, made unique in its folder) and removes the RTF; the new path
  // goes to `newPath`. Note and RTFD files need nothing; other types fail.
  [[nodiscard]] static bool coerceFileToAcceptAttachments(const std::string& path, std::string* newPath,
                                                          Error* error = nullptr);
  // Reads the RTF file at `source` and moves it, as an RTFD package, to
  // `destination`, both under file coordination.
  [[nodiscard]] static bool convertRTFToRTFD(const std::string& source, const std::string& destination,
                                             Error* error = nullptr);
  // The tag names of the hashtags in the file's text.
  [[nodiscard]] static std::optional<std::set<std::string>> tagsFromHashtagsInFileURL(const std::string& path,
                                                                                      Error* error = nullptr);

  Type editableFileType() const { return type_; }
  bool isRichText() const { return type_ == Type::Note || type_ == Type::RichText; }
  NoteFile& noteFile();
  const AttributedString& attributedString() const { return attributedString_; }
  const DocumentAttributes& documentAttributes() const { return documentAttributes_; }
  const std::string& plainTextString() const { return plainText_; }
  StringEncoding stringEncoding() const { return encoding_; }

  [[nodiscard]] bool writeToURL(const std::string& path, Error* error = nullptr);
  void appendString(const std::string& text);
  void appendAttributedString(const AttributedString& text);
  [[nodiscard]] bool appendAttachmentForFileURL(const std::string& path, const std::string& typeIdentifier,
                                                Error* error = nullptr);

  std::string textString();
  AttributedString richTextString();

 private:
  explicit EditableTextFile(Type type) : type_(type) {}
  [[nodiscard]] bool readPlainText(const std::string& path, Error* error);

  Type type_;
  std::unique_ptr<NoteFile> noteFile_;
  AttributedString attributedString_;
  DocumentAttributes documentAttributes_;
  std::string plainText_;
  StringEncoding encoding_ = StringEncoding::UTF8;
};

}  // namespace qlt
