#pragma once

#include "platform/text/attributed_string.h"

namespace qlt::testing {

// Text carrying every attribute kind the RTF writer keeps, with characters
// that need escaping in RTF.
inline AttributedString richSample() {
  Font body = Font::withFamily("Helvetica Neue", 12);
  AttributedString text;
  text.appendText(u"Plain {braces} \\ back\tslash\n", {{kFontAttributeName, body}});
  text.appendText(u"Bold", {{kFontAttributeName, body.withTraits(true, false)}});
  text.appendText(u" italic", {{kFontAttributeName, body.withTraits(false, true).withSize(17)}});
  text.appendText(u" red", {{kFontAttributeName, body}, {kForegroundColorAttributeName, Color::rgb(1, 0, 0)}});
  text.appendText(u" marked", {{kFontAttributeName, body},
                               {kBackgroundColorAttributeName, Color::rgb(1, 1, 0)},
                               {kUnderlineStyleAttributeName, int64_t(1)}});
  text.appendText(u" struck", {{kFontAttributeName, body}, {kStrikethroughStyleAttributeName, int64_t(1)}});
  text.appendText(u" link", {{kFontAttributeName, body}, {kLinkAttributeName, std::string("https://example.com/a?b=1")}});
  ParagraphStyle centred;
  centred.alignment = TextAlignment::Center;
  centred.headIndent = 36;
  centred.firstLineHeadIndent = 18;
  centred.paragraphSpacing = 2;
  centred.lineHeightMultiple = 1.5;
  centred.tabStops = {{TextAlignment::Left, 11}, {TextAlignment::Right, 36}};
  text.appendText(u"\nCentred caf\u00e9 \u2014 \u20ac \u4e2d\u6587 \U0001F600\n",
                  {{kFontAttributeName, Font::withFamily("Menlo", 12)}, {kParagraphStyleAttributeName, centred}});
  return text;
}

}  // namespace qlt::testing
