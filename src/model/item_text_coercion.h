#pragma once

#include "platform/foundation/error.h"

namespace qlt {

class Item;

// Makes an item's file able to hold attachments: an RTF file is rewritten
// as an RTFD package named after it (unique in the item's folder), and the
// item takes the new filename and type, keeping its hidden extension. Notes
// and RTFD packages need nothing; other types cannot be coerced and answer
// false.
[[nodiscard]] bool coerceEditableTextFileForItemToAcceptAttachments(Item& item, Error* error = nullptr);

}  // namespace qlt
