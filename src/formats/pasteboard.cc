#include "formats/pasteboard.h"

namespace qlt {

std::string AttributedText::string() const {
  std::string text;
  for (const TextRun& run : runs) text += run.text;
  return text;
}

}  // namespace qlt
