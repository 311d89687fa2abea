#pragma once

namespace qlt {

// Makes the checklist, divider and file attachments decodable from keyed
// archives. Idempotent and thread-safe; the readers of note text call it.
void registerRichTextClasses();

}  // namespace qlt
