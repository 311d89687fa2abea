#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace qlt {

// Turning free text and user input into names of files in the library's
// folder directories. Lengths are counted in UTF-16 code units, as the
// platform's strings count them; text is cut only between code points.
// Ill-formed UTF-8 reads as U+FFFD.
//
// "Control characters" below are those of general categories Cc and Cf,
// except the joiners (U+200C, U+200D) and the emoji tag characters
// (U+E0020–U+E007F), which belong inside words and emoji sequences.

// The longest name, in UTF-16 code units and in bytes of UTF-8 alike.
inline constexpr size_t kMaximumFilenameLength = 255;

// A file name made from the start of `text` (a note's text, a page title):
// list markers are dropped, the name ends at the first newline or control
// character, or else after the word that crosses 128 units, and it is
// sanitized as stringSanitizedForFileName does. With `truncateToPeriod` a
// period ends the name too, and periods are trimmed from both ends.
//
// Empty when the text gives no name at all (empty, blank, only markers):
// callers substitute their own default ("New Note"). A non-empty result is
// always a safe path component.
std::string generateFilenameTruncatingToPeriod(std::string_view text, bool truncateToPeriod);
inline std::string generateFilename(std::string_view text) { return generateFilenameTruncatingToPeriod(text, true); }

// `name` made safe as one path component: NUL is dropped; whitespace,
// newlines and "…" are trimmed; leading periods become "-"; "/", ":", "~"
// and tabs become "-"; newlines are dropped; then it is cut to 255 units
// keeping its extension, and further until its UTF-8 form fits in 255
// bytes. Empty when nothing is left: callers refuse such a name. A
// non-empty result is never "." or "..".
std::string stringSanitizedForFileName(std::string_view name);

// `name` sanitized when neither that nor `name` as given is taken, else the
// first of "B 1", "B 2", … (B being the sanitized name without its
// extension, the extension appended again) that is free once sanitized. B
// is shortened when a variant would exceed the length limits, so that the
// number always survives. Empty when `name` sanitizes to nothing. `isTaken`
// must call some candidate free eventually.
std::string uniqueFilename(const std::string& name, const std::function<bool(const std::string&)>& isTaken);

// `name` unchanged when it can name an entry of `directoryPath` and nothing
// is there yet; otherwise uniqueFilename against the entries of the
// directory. A candidate is taken when anything (even a dangling symbolic
// link) is at that path, or an entry's name is canonically equivalent to it
// (precomposed or decomposed accents), as it would be on the file systems
// of the platform the library comes from.
std::string makeFilenameUniqueInDirectory(const std::string& name, const std::string& directoryPath);

// Equality of names as file names: case, diacritics and character width are
// ignored, and canonically equivalent forms are equal ("Résumé" equals
// "resume", a full-width "Ａ" equals "a").
bool isEqualToFilename(std::string_view a, std::string_view b);
inline bool isCaseInsensitiveEqualToString(std::string_view a, std::string_view b) { return isEqualToFilename(a, b); }

}  // namespace qlt
