#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/foundation/error.h"
#include "platform/foundation/property_list.h"
#include "platform/files/file_wrapper.h"
#include "platform/text/attributed_string.h"

namespace qlt {

inline constexpr const char* kNoteFileExtension = "qltnote";
inline constexpr const char* kNoteType = "com.quillet.note";

inline constexpr const char* kNoteFileErrorDomain = "QLTNoteFileErrorDomain";
inline constexpr long kNoteFileInvalidFormatErrorCode = 10001;
inline constexpr long kNoteFileRecoverFromRTFDErrorCode = 10002;

inline constexpr const char* kHighlightTextAttributeName = "QLTHighlightTextAttribute";
inline constexpr const char* kNoteConvertImportedHTMLFilesKey = "QLTNoteConvertImportedHTMLFiles";
inline constexpr const char* kNoteConvertImportedPlainTextFilesKey = "QLTNoteConvertImportedPlainTextFiles";

// A note: its rich text and display settings, read from and written to a
// ".qltnote" package. The package holds the note's own files ("NoteText",
// the archived text; "NoteAttributes"; one file per attachment) and is at
// the same time an RTFD document ("TXT.rtf" and its attachment files), from
// which a note whose own files are lost is recovered.
class NoteFile {
 public:
  // An empty note with the default background colour.
  NoteFile();

  static PropertyListDictionary defaultPreferences();
  static std::string newNoteName();
  static std::string newNoteFileName();
  // Whether an imported file should become a note first: plain text and
  // HTML, each while its conversion default is on.
  static bool shouldConvertFileURL(const std::string& path);
  // A new note holding the text of the plain-text or HTML file at `path`,
  // in a temporary directory of its own that the caller removes.
  [[nodiscard]] static std::optional<std::string> noteFileURLForTextFileAtURL(const std::string& path,
                                                                             Error* error = nullptr);
  static Color defaultBackgroundColor();
  static const std::set<std::string>& allowedAttributeNames();

  // A note read from a file or package; nothing on failure. Reading starts
  // from no document attributes and no background colour.
  [[nodiscard]] static std::unique_ptr<NoteFile> withFileURL(const std::string& path, Error* error = nullptr);
  [[nodiscard]] static std::unique_ptr<NoteFile> withFileWrapper(const FileWrapper& wrapper, Error* error = nullptr);

  // Reads a package, recovering from its RTFD part when its note text is
  // lost.
  [[nodiscard]] bool readFileAtURL(const std::string& path, Error* error = nullptr);
  // Reads a package without recovery: a lost or unreadable "NoteText" next
  // to a "TXT.rtf" fails with kNoteFileRecoverFromRTFDErrorCode.
  [[nodiscard]] bool readFileWrapper(const FileWrapper& wrapper, Error* error = nullptr);
  [[nodiscard]] bool attemptRecoveryFromRTFD(const std::string& path, Error* error = nullptr);

  [[nodiscard]] std::unique_ptr<FileWrapper> fileWrapper(Error* error = nullptr) const;
  // Writes the package in one step, keeping the hidden-extension flag and
  // creation date of what it replaces.
  [[nodiscard]] bool saveToFileURL(const std::string& path, Error* error = nullptr) const;

  // The text with checklists as text lists, dividers as "***" and the
  // standard text colour as black.
  AttributedString noteTextSuitableForExport() const;
  std::vector<std::shared_ptr<FileWrapper>> fileAttachments() const;

  const AttributedString& noteText() const { return noteText_; }
  void setNoteText(AttributedString text) { noteText_ = std::move(text); }
  bool showSmallImages() const { return showSmallImages_; }
  void setShowSmallImages(bool value) { showSmallImages_ = value; }
  // White and black mean the system's text background.
  std::optional<Color> backgroundColor() const;
  void setBackgroundColor(std::optional<Color> color) { backgroundColor_ = color; }
  const std::optional<PropertyList>& drawingDataByAttachmentKey() const { return drawingData_; }
  void setDrawingDataByAttachmentKey(std::optional<PropertyList> data) { drawingData_ = std::move(data); }
  const DocumentAttributes& documentAttributes() const { return documentAttributes_; }
  void setDocumentAttributes(DocumentAttributes attributes) { documentAttributes_ = std::move(attributes); }

 private:
  struct Unset {};
  explicit NoteFile(Unset) {}

  void readAttributes(const FileWrapper& entry, std::vector<TextRange>& dividerRanges);
  [[nodiscard]] PropertyList attributesPropertyList(const std::vector<TextRange>& dividerRanges,
                                                    const std::vector<TextRange>& highlightRanges) const;

  AttributedString noteText_;
  bool showSmallImages_ = false;
  std::optional<Color> backgroundColor_;
  std::optional<PropertyList> drawingData_;
  DocumentAttributes documentAttributes_;
};

}  // namespace qlt
