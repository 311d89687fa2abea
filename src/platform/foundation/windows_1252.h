#pragma once

#include <cstdint>

namespace qlt {

// Windows-1252, the code page of RTF documents and of older plain-text
// files. Bytes the code page leaves unassigned read as U+FFFD.
char16_t fromWindows1252(uint8_t byte);
// The byte for `c`, or -1 when the code page has none.
int windows1252Byte(char16_t c);

}  // namespace qlt
