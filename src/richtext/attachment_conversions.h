#pragma once

#include <string>
#include <vector>

#include "platform/text/attributed_string.h"

namespace qlt {

// Conversions of note text between its special attachments and plain text
// constructs. All work in place.

// Lines starting with tab, "✓", tab (or tab, "◦", tab) get a checklist box,
// ticked for the check mark, in the checklist paragraph style.
void convertTextListsToChecklistAttachments(AttributedString& text);
// Each box becomes tab, "✓" or "◦", tab, and its line a one-item text list.
void convertChecklistAttachmentsToTextLists(AttributedString& text);
// Each box becomes "- [x] " or "- [ ] " in the default paragraph style.
void convertChecklistAttachmentsToMarkdownSyntax(AttributedString& text);
// Converts text lists with check or circle markers back to checklist boxes
// when the text has any.
void checkForTextListsAndConvertIfNecessary(AttributedString& text);
// Each divider becomes its centred "***".
void convertDividersToText(AttributedString& text);
// Plain attachments whose type calls for a file attachment (or that are
// locked PDFs) become file attachments over the same file.
void replaceFileAttachmentsInRange(AttributedString& text, TextRange range);
AttributedString attributedStringWithFileAttachments(const AttributedString& text);
// Attachment file names of 256 UTF-16 units or more are sanitized to 255.
void fixLengthOfAttachmentFilenames(AttributedString& text);
// Dynamic colours become their fixed values, and back: the standard text
// colour for black foregrounds.
void convertFromDynamicColors(AttributedString& text);
void convertToDynamicColors(AttributedString& text);

// The trimmed lines after unticked (outstanding) or ticked (completed)
// boxes, in text order, empty lines left out.
std::vector<std::string> outstandingChecklistItems(const AttributedString& text);
std::vector<std::string> completedChecklistItems(const AttributedString& text);

// A copy of the default paragraph style laid out for list items.
ParagraphStyle listParagraphStyle();
// The marker text of an item: style 1 bullet, 2 hyphen bullet, 3 number.
std::string listMarkerForListStyle(int style, long itemNumber);

}  // namespace qlt
